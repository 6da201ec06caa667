// The run-time error of the numerical models, and the one check that raises
// it.
//
// Every floating-point overflow, division by zero or invalid operation in a
// model raises FloatingPointError at once, so that no NaN or infinity ever
// reaches a caller or a worksheet cell. Iterations that would otherwise run
// without end raise it too, when their cap is hit.
//
// A model routine clears the fault flags on entry (ClearFaultFlags) and
// checks what it computed (Faulted); on a fault it raises the error with a
// message naming the routine and its state point (RaiseFault).
#pragma once

#include <cfenv>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tersolv {

class FloatingPointError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The flags of the floating-point environment that mean a fault.
inline constexpr int kFaultFlags = FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID;

// Clears the fault flags. Clearing them costs far more than testing them:
// cleared only when set.
inline void ClearFaultFlags() {
  if (std::fetestexcept(kFaultFlags) != 0) std::feclearexcept(kFaultFlags);
}

// True when `value` is not finite or a fault flag has been raised since the
// flags were last cleared.
inline bool Faulted(double value) { return !std::isfinite(value) || std::fetestexcept(kFaultFlags) != 0; }

// Raises FloatingPointError("floating-point fault in " + where), the flags
// cleared for whatever runs next.
[[noreturn]] void RaiseFault(const std::string& where);

// Returns `value`, or raises FloatingPointError naming `where` when it is
// not finite (the flags are not looked at: for values combined outside the
// model routines).
inline double CheckFinite(double value, const char* where) {
  if (!std::isfinite(value)) RaiseFault(where);
  return value;
}

}  // namespace tersolv
