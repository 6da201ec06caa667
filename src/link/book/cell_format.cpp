#include "link/book/cell_format.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "link/book/sheet_xml.h"

namespace tersolv::link::book {

std::size_t FormatNumberInto(double value, char (&buffer)[kNumberTextMax]) {
  if (!std::isfinite(value)) throw std::invalid_argument("FormatNumber: value is not finite");
  if (value == 0.0) {  // also for -0
    buffer[0] = '0';
    return 1;
  }
  auto [end, ec] = std::to_chars(buffer, buffer + kNumberTextMax, value);
  if (ec != std::errc()) throw std::invalid_argument("FormatNumber: cannot format value");
  return static_cast<std::size_t>(end - buffer);
}

std::string FormatNumber(double value, char decimalSeparator) {
  char buffer[kNumberTextMax];
  std::string text(buffer, FormatNumberInto(value, buffer));
  if (decimalSeparator != '.') {
    for (char& c : text)
      if (c == '.') c = decimalSeparator;
  }
  return text;
}

namespace {

// A whole text in C notation read by from_chars (its error code: out of range or not).
struct NumberRead {
  std::errc Error = std::errc::invalid_argument;
  double Value = 0.0;
};

NumberRead ReadNumber(std::string_view text) {
  if (text.empty()) return {};
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (*first == '+') ++first;  // from_chars does not take a plus sign
  if (first == last) return {};
  // Only digits, sign, point and exponent: rules out "nan", "inf" and hex forms.
  for (const char* p = first; p != last; ++p) {
    const char c = *p;
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return {};
  }
  NumberRead read;
  auto [end, ec] = std::from_chars(first, last, read.Value, std::chars_format::general);
  read.Error = end != last ? std::errc::invalid_argument : ec;
  if (read.Error == std::errc() && !std::isfinite(read.Value)) read.Error = std::errc::result_out_of_range;
  return read;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  const NumberRead read = ReadNumber(text);
  if (read.Error != std::errc()) return std::nullopt;
  return read.Value;
}

bool IsNumberOutOfRange(std::string_view text) { return ReadNumber(text).Error == std::errc::result_out_of_range; }

int ColumnNumber(std::string_view letters) {
  if (letters.empty() || letters.size() > 3) return 0;
  int column = 0;
  for (char c : letters) {
    if (c < 'A' || c > 'Z') return 0;
    column = column * 26 + (c - 'A' + 1);
  }
  return column <= kMaxColumns ? column : 0;
}

std::string ColumnLetters(int column) {
  char letters[8];
  return std::string(letters, PutColumnLetters(letters, column));
}

std::optional<CellAddress> ParseCellReference(std::string_view reference) {
  std::size_t split = 0;
  while (split < reference.size() && reference[split] >= 'A' && reference[split] <= 'Z') ++split;
  const int column = ColumnNumber(reference.substr(0, split));
  const std::string_view digits = reference.substr(split);
  if (column == 0 || digits.empty() || digits.size() > 7 || digits[0] == '0') return std::nullopt;
  int row = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    row = row * 10 + (c - '0');
  }
  if (row > kMaxRows) return std::nullopt;
  return CellAddress{row, column};
}

std::string CellReference(int row, int column) { return ColumnLetters(column) + std::to_string(row); }

}  // namespace tersolv::link::book
