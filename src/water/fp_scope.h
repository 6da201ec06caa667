// Floating-point fault detection around one water routine.
//
// An FpScope clears the overflow, division-by-zero and invalid flags on entry
// (remembering those already raised by the caller), and Check() raises
// FloatingPointError naming the routine and its state point when one of them
// was raised inside, or when the result is not finite. On leaving, the
// caller's flags are put back.
#pragma once

#include <cfenv>
#include <cmath>
#include <sstream>
#include <string>

#include "core/fp.h"

namespace tersolv::water {

class FpScope {
 public:
  FpScope(const char* where, const char* name1, double value1, const char* name2, double value2)
      : where_(where), name1_(name1), name2_(name2), value1_(value1), value2_(value2) {
    saved_ = RaisedFaultFlags();
    if (saved_ != 0) std::feclearexcept(kFaultFlags);
  }
  ~FpScope() {
    if (saved_ != 0) std::feraiseexcept(saved_);
  }
  FpScope(const FpScope&) = delete;
  FpScope& operator=(const FpScope&) = delete;

  // Raises FloatingPointError on a fault; returns `result` otherwise.
  double Check(double result) {
    if (Faulted(result)) Raise();
    return result;
  }

  [[noreturn]] void Raise() const {
    std::ostringstream text;
    text.precision(17);
    text << where_ << " at " << name1_ << " = " << value1_;
    if (name2_ != nullptr) text << ", " << name2_ << " = " << value2_;
    RaiseFault(text.str());
  }

 private:
  const char* where_;
  const char* name1_;
  const char* name2_;
  double value1_;
  double value2_;
  int saved_ = 0;
};

}  // namespace tersolv::water
