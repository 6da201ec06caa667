#include "core/fp.h"

namespace tersolv {

void RaiseFault(const std::string& where) {
  std::feclearexcept(FE_ALL_EXCEPT);
  throw FloatingPointError("floating-point fault in " + where);
}

}  // namespace tersolv
