// Writes a new .xlsx workbook from a plain description: sheets with values,
// text and formulas, bold rows, column widths and merged cells. Builds the
// template workbook, the bundled example and test files; not part of the
// program (which only changes workbooks it opens).
#pragma once

#include <map>
#include <set>
#include <string>
#include <variant>
#include <utility>
#include <vector>

namespace tersolv::link::book {

// An empty cell, a number or a text.
using NewValue = std::variant<std::monostate, double, std::string>;

struct NewSheet {
  std::string Name;
  std::vector<std::vector<NewValue>> Rows;  // Rows[0] is row 1, Rows[0][0] cell A1
  std::map<std::string, std::string> Formulas;  // "B20" -> "SUM(A4:A10)" (no "=")
  std::set<int> BoldRows;                       // row numbers
  std::set<int> WrapRows;                       // row numbers whose text wraps within the column
  std::map<int, double> RowHeights;             // row number -> height in points
  std::vector<double> ColumnWidths;             // characters, from column 1; 0 = default
  std::vector<std::string> Merges;              // "A1:L1"
  std::map<std::string, int> NumberFormats;     // "C4" -> built-in format id (e.g. 2 = "0.00")
  bool IsWorksheet = true;                      // false: an (empty) chart sheet
};

// The bytes of an .xlsx file with these sheets; `activeSheet` from 0.
std::string WriteNewWorkbook(const std::vector<NewSheet>& sheets, int activeSheet = 0);
// The same, into a file (replaced safely if it exists).
void WriteNewWorkbookFile(const std::string& path, const std::vector<NewSheet>& sheets, int activeSheet = 0);

// A new zip package holding `entries` (name, contents) in this order.
std::string WriteNewZip(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace tersolv::link::book
