#include "link/link.h"

#include <cmath>
#include <cstdio>
#include <locale>

namespace tersolv::link {

std::string NumberText(double value, char decimalSeparator) {
  if (value == 0.0) return "0";  // also -0
  char buffer[40];
  const int n = std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  for (char& c : text) {
    if (c == '.' || c == ',') c = decimalSeparator;  // whatever LC_NUMERIC says
  }
  return text;
}

char SystemDecimalSeparator() {
  try {
    const char point = std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point();
    return point == ',' ? ',' : '.';
  } catch (const std::exception&) {
    return '.';
  }
}

}  // namespace tersolv::link
