// The run-time error of the numerical models, and the checks that raise it.
//
// Every floating-point overflow, division by zero or invalid operation in a
// model raises FloatingPointError at once, so that no NaN or infinity ever
// reaches a caller or a worksheet cell. Iterations that would otherwise run
// without end raise it too, when their cap is hit.
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

// Raises FloatingPointError naming `where` unless `value` is finite.
inline double CheckFinite(double value, const char* where) {
  if (!std::isfinite(value)) {
    throw FloatingPointError(std::string("floating-point fault in ") + where);
  }
  return value;
}

// Raises FloatingPointError naming `where` when the overflow, division-by-zero
// or invalid flag of the floating-point environment is set; clears the flags.
inline void CheckFloatingPointFlags(const char* where) {
  if (std::fetestexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID)) {
    std::feclearexcept(FE_ALL_EXCEPT);
    throw FloatingPointError(std::string("floating-point fault in ") + where);
  }
}

}  // namespace tersolv
