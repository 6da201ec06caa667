// Floating-point checks shared by the NaCl models (internal).
#pragma once

#include <cfenv>
#include <cmath>
#include <sstream>
#include <string>

#include "water/fp_check.h"

namespace tersolv::nacl::detail {

// Clearing the flags costs far more than testing them: clear only when set.
inline void ClearFlags() {
  constexpr int kMask = FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID;
  if (std::fetestexcept(kMask) != 0) std::feclearexcept(kMask);
}

[[noreturn]] inline void Fault(const std::string& what, const char* routine, double T) {
  std::feclearexcept(FE_ALL_EXCEPT);
  std::ostringstream text;
  text.precision(10);
  text << what << " in " << routine << " at T = " << T << " K";
  throw FloatingPointError(text.str());
}

// Returns `value`, or raises FloatingPointError when it is not finite or a
// fault flag is set.
inline double Checked(double value, const char* routine, double T) {
  if (!std::isfinite(value) || std::fetestexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID)) {
    Fault("floating-point fault", routine, T);
  }
  return value;
}

}  // namespace tersolv::nacl::detail
