// Writes the workbooks that ship with Tersolv:
//   make_workbooks template OUT   the template Tersolv.xlsx (both layouts, no points)
//   make_workbooks example OUT    the bundled example (the template's sheets with
//                                 points over the whole range, and a notes sheet)
#include <iostream>
#include <string>
#include <vector>

#include "layout/layout.h"
#include "link/book/cell_format.h"
#include "link/book/writer/workbook_writer.h"
#include "link/link.h"

namespace {

using tersolv::link::book::NewSheet;
using tersolv::link::book::NewValue;

NewValue T(const char* text) { return std::string(text); }

// Three lines of 11-point text, with room: each header wrapped in its column.
constexpr double kHeaderRowHeight = 48;

// A data sheet of the layout: row 1 its title, row 2 its keyword (the rest
// of the input columns empty) and a note over the results, row 3 the
// headers of its columns, wrapped so that each can be read in its column.
NewSheet DataSheet(const tersolv::layout::SheetLayout& layout) {
  NewSheet s;
  s.Name = layout.Name;
  s.Rows.push_back({T(layout.Title)});
  s.Rows.push_back({T(layout.Keyword)});
  s.Rows.back().resize(layout.Inputs.size());
  s.Rows.back().push_back(T(layout.Note));
  s.Rows.emplace_back();
  for (const auto& columns : {layout.Inputs, layout.Results}) {
    for (const tersolv::layout::Column& column : columns) {
      s.Rows.back().push_back(T(column.Header));
      s.ColumnWidths.push_back(column.Width);
    }
  }
  s.BoldRows = {1, tersolv::layout::kHeaderRow};
  s.WrapRows = {tersolv::layout::kHeaderRow};
  s.RowHeights = {{tersolv::layout::kHeaderRow, kHeaderRowHeight}};
  s.Merges = {"A1:" + tersolv::link::book::ColumnLetters(layout.LastColumn()) + "1"};
  return s;
}

NewSheet Components() { return DataSheet(tersolv::layout::kComponents); }
NewSheet Ternary() { return DataSheet(tersolv::layout::kTernary); }

void AddRows(NewSheet& sheet, const std::vector<std::vector<NewValue>>& rows) {
  for (const auto& row : rows) sheet.Rows.push_back(row);
}

std::vector<NewSheet> Example() {
  NewSheet components = Components();
  AddRows(components, {{0.01, T("sat")}, {0.0, 0.1},     {25.0, T("sat")}, {25.0, T("0")},  {25.0, 0.1},
                       {25.0, 10.0},     {25.0, 100.0},  {50.0, 5.0},      {100.0, T("sat")}, {100.0, 0.1},
                       {150.0, 20.0},    {200.0, T("sat")}, {250.0, 50.0}, {300.0, T("sat")}, {300.0, 100.0},
                       {325.0, 15.0},    {325.0, T("sat")}});
  NewSheet ternary = Ternary();
  AddRows(ternary, {{25.0, 0.1, 0.0, 0.0},     {25.0, 0.1, 0.05, 0.0},    {25.0, 0.1, 0.05, 1.0},
                    {25.0, 0.1, 0.05, 3.0},    {25.0, 0.1, 0.05, 5.0},    {25.0, 0.1, 0.05, 6.5},
                    {25.0, 0.1, 0.5, 1.0},     {25.0, 0.1, 0.5, 7.0},     {25.0, 2.0, 0.1, 2.0},
                    {25.0, T("sat"), 0.0, 1.0}, {50.0, 1.0, 0.2, 0.5},    {60.0, 10.0, 1.0, 2.0},
                    {80.0, T("0"), 0.01, 4.0}, {100.0, 1.0, 0.1, 1.0},    {100.0, 5.0, 0.3, 6.0},
                    {100.0, T("sat"), 0.0, 3.0}, {150.0, 2.0, 0.05, 2.0}, {150.0, 10.0, 0.8, 4.0},
                    {200.0, 5.0, 0.2, 1.0},    {200.0, 20.0, 1.5, 3.0},   {200.0, 20.0, 0.2, 8.0},
                    {250.0, 10.0, 0.1, 2.0},   {250.0, 50.0, 3.0, 5.0},   {300.0, 20.0, 0.5, 1.0},
                    {300.0, 100.0, 2.0, 5.0},  {325.0, 30.0, 0.2, 0.5},   {325.0, 100.0, 1.0, 6.0}});
  NewSheet notes;
  notes.Name = "Notes";
  notes.Rows = {{T("About this example")},
                {T("Compute it with: tersolv calc Example.xlsx")},
                {T("Results appear in the data sheets to the right of the input; rows with a coloured font "
                   "exceed a saturation (see row 2 of \"Ternary system\").")},
                {},
                {T("Number of ternary points"), {}},
                {T("Mean temperature of the ternary points, C"), {}}};
  notes.Formulas = {{"B5", "COUNT('Ternary system'!A4:A100)"}, {"B6", "AVERAGE('Ternary system'!A4:A100)"}};
  notes.NumberFormats = {{"B6", 2}};
  notes.BoldRows = {1};
  notes.ColumnWidths = {44, 12};
  notes.Merges = {"A3:H3"};
  return {ternary, components, notes};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "template" && std::string(argv[1]) != "example")) {
    std::cerr << "usage: make_workbooks template|example OUT\n";
    return 2;
  }
  try {
    if (std::string(argv[1]) == "template")
      tersolv::link::book::WriteNewWorkbookFile(argv[2], {Components(), Ternary()}, 0);
    else
      tersolv::link::book::WriteNewWorkbookFile(argv[2], Example(), 0);
  } catch (const tersolv::link::LinkError& e) {
    std::cerr << "make_workbooks: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
