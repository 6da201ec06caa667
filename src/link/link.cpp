#include "link/link.h"

#include <charconv>
#include <locale>

namespace tersolv::link {

std::string NumberText(double value, char decimalSeparator) {
  if (value == 0.0) return "0";  // also -0
  char buffer[48];
  // to_chars with a precision writes what printf's "%.15G" does in the C
  // locale (exponent in lower case), several times faster.
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  if (ec != std::errc()) return "0";  // not reached: 48 characters hold any double
  for (char* p = buffer; p != end; ++p) {
    if (*p == 'e') *p = 'E';
    if (*p == '.') *p = decimalSeparator;
  }
  return std::string(buffer, end);
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
