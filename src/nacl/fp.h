// Floating-point checks shared by the NaCl models (internal).
#pragma once

#include <cfenv>
#include <cmath>
#include <sstream>
#include <string>

#include "core/fp.h"

namespace tersolv::nacl::detail {

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
  if (Faulted(value)) Fault("floating-point fault", routine, T);
  return value;
}

}  // namespace tersolv::nacl::detail
