// References inside a spreadsheet formula as an .xlsx cell keeps it (A1
// notation, no leading "="): moved as copying the formula to another cell
// moves them, which is what a shared formula means for the cells sharing it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tersolv::link::book {

// The formula with every relative reference ("B4", the row of "$B4", the
// column of "B$4", whole rows "4:6" and columns "B:D") moved by `rows` and
// `columns`; absolute parts, text in quotes, quoted sheet names, structured
// references and function names stay. nullopt when a moved reference would
// leave the worksheet.
std::optional<std::string> MoveFormulaReferences(std::string_view formula, int rows, int columns);

// A block of cells a formula refers to; Sheet is empty for the formula's own sheet.
struct FormulaArea {
  std::string Sheet;
  int FirstRow = 0, FirstColumn = 0, LastRow = 0, LastColumn = 0;
};

// The blocks of cells the formula refers to by its text; nullopt when it may
// use cells its text does not name (defined names, INDIRECT, OFFSET,
// references to other workbooks, tables or across sheets).
std::optional<std::vector<FormulaArea>> FormulaAreas(std::string_view formula);

}  // namespace tersolv::link::book
