// Text forms of cell values and cell addresses shared by the workbook-file
// backends: numbers in the shortest form that reads back to the same double,
// with a chosen decimal separator, and A1-style references.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tersolv::link::book {

// Largest row and column numbers of a worksheet (those of the .xlsx format).
inline constexpr int kMaxRows = 1048576;
inline constexpr int kMaxColumns = 16384;

// The shortest text that reads back as `value` ("25", "0.1", "1e-05"), with
// `decimalSeparator` in place of the point. `value` must be finite.
std::string FormatNumber(double value, char decimalSeparator = '.');
// The same text with a point, written into `buffer`; returns its length.
inline constexpr std::size_t kNumberTextMax = 32;
std::size_t FormatNumberInto(double value, char (&buffer)[kNumberTextMax]);

// Parses a whole text in C notation ("-1.5e3"); nullopt unless the text is a
// finite number with nothing around it (no blanks, no "nan" or "inf").
std::optional<double> ParseNumber(std::string_view text);
// Whether the text is a number in C notation too large or too small for a
// double ("1e309", "1e-400"): a cell may hold it, as text that the worksheet
// checks reject as out of range.
bool IsNumberOutOfRange(std::string_view text);

// "A" -> 1, "Z" -> 26, "AA" -> 27; 0 when not letters or out of range.
int ColumnNumber(std::string_view letters);
std::string ColumnLetters(int column);

// "B12" -> row 12, column 2. nullopt unless a valid reference.
struct CellAddress {
  int Row = 0, Column = 0;
};
std::optional<CellAddress> ParseCellReference(std::string_view reference);
std::string CellReference(int row, int column);

}  // namespace tersolv::link::book
