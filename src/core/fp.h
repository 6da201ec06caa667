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

#if defined(__x86_64__) && defined(__SSE2_MATH__)
#include <xmmintrin.h>
#endif

namespace tersolv {

class FloatingPointError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The flags of the floating-point environment that mean a fault.
inline constexpr int kFaultFlags = FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID;

// The fault flags raised since they were last cleared. On x86-64 doubles are
// computed in SSE registers, whose status register holds the flags at the
// bit positions of <cfenv>: it is read inline, where the library's
// fetestexcept also reads the x87 status word (no model computes in x87
// registers) and took 5 % of the time of a ternary point.
inline int RaisedFaultFlags() {
#if defined(__x86_64__) && defined(__SSE2_MATH__)
  static_assert(FE_INVALID == 0x01 && FE_DIVBYZERO == 0x04 && FE_OVERFLOW == 0x08);
  return static_cast<int>(_mm_getcsr()) & kFaultFlags;
#else
  return std::fetestexcept(kFaultFlags);
#endif
}

// Clears the fault flags. Clearing them costs far more than testing them:
// cleared only when set.
inline void ClearFaultFlags() {
  if (RaisedFaultFlags() != 0) std::feclearexcept(kFaultFlags);
}

// True when `value` is not finite or a fault flag has been raised since the
// flags were last cleared.
inline bool Faulted(double value) { return !std::isfinite(value) || RaisedFaultFlags() != 0; }

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
