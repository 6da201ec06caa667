#include "job/calc_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

#include "calc/driver.h"
#include "input/reader.h"
#include "layout/layout.h"
#include "link/book/book_application.h"
#include "link/book/file_io.h"
#include "water/water.h"

namespace tersolv::job {
namespace {

using Result = CalcFileOutcome::Result;

// The row where a run stopped: the first point row whose last result
// column is still empty (the driver writes that column last).
int StoppedRow(const input::WorksheetReader& reader, link::Worksheet& sheet) {
  const int lastColumn = layout::LayoutOfKind(reader.Points.SheetKind)->LastResultColumn();
  const int firstRow = layout::kFirstPointRow;
  for (int i = 0; i < reader.Points.PointCount; ++i)
    if (sheet.CellText(firstRow + i, lastColumn).empty()) return firstRow + i;
  return firstRow + reader.Points.PointCount;
}

// The data end at the first empty temperature cell: the first row below
// it with an input, which is not read (0 if none).
int UnreadRow(const input::WorksheetReader& reader, link::Worksheet& sheet) {
  const int end = reader.Points.PointCount + layout::kFirstPointRow;
  const int inputs = static_cast<int>(layout::LayoutOfKind(reader.Points.SheetKind)->Inputs.size());
  const int last = link::book::BookApplication::LastRow(sheet);
  for (int row = end + 1; row <= last; ++row)
    for (int column = 1; column <= inputs; ++column)
      if (!sheet.CellText(row, column).empty()) return row;
  return 0;
}

void Save(link::book::BookApplication& app, const CalcFileRequest& request, CalcFileOutcome& outcome) {
  try {
    if (request.Output.empty())
      app.Save();
    else
      app.SaveAs(request.Output);
  } catch (const link::LinkError& e) {
    outcome.SaveError = e.Description();
    return;
  }
  outcome.SavedTo = link::book::FullPath(request.Output.empty() ? request.Book : request.Output);
  outcome.MarkedCellsNotStored = app.MarkedCellsNotStored();
}

}  // namespace

bool IsWorkbookFile(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".xlsx" || ext == ".xlsm" || ext == ".csv";
}

bool SameFormat(const std::string& a, const std::string& b) {
  return link::book::IsCsvPath(a) == link::book::IsCsvPath(b);
}

CalcFileOutcome CalcFile(const CalcFileRequest& request, link::Frontend& frontend) {
  CalcFileOutcome outcome;
  if (!IsWorkbookFile(request.Book) || (!request.Output.empty() && !SameFormat(request.Book, request.Output))) {
    outcome.What = Result::NoSuchFile;
    outcome.Message = IsWorkbookFile(request.Book)
                          ? "the output file must have the format (extension) of the workbook"
                          : "the embedded backend reads .xlsx and .csv workbooks (a LibreOffice or Excel file "
                            "of another kind can be saved as .xlsx)";
    return outcome;
  }
  link::book::BookApplication app(request.DecimalSeparator);
  // Formulas in input cells keep their cached values (the numbers read);
  // those elsewhere lose them when they may use the results.
  app.KeepFormulaValues(input::IsInputCell);
  // With the output elsewhere, the workbook is only read: the output is locked instead.
  const bool elsewhere =
      !request.Output.empty() && link::book::FullPath(request.Output) != link::book::FullPath(request.Book);
  app.OpenWorkbook(request.Book, elsewhere, request.Sheet);
  if (elsewhere) app.LockOutput(request.Output);
  if (!request.Sheet.empty() && !link::book::IsCsvPath(request.Book)) {
    try {
      app.ActivateSheet(request.Sheet);
    } catch (const link::LinkError&) {
      outcome.What = Result::NoSuchSheet;
      outcome.SheetNames = app.SheetNames();
      return outcome;
    }
  }
  const std::shared_ptr<link::Worksheet> sheet = app.ActiveSheet();
  outcome.SheetName = sheet->Name();

  water::WaterModel water;
  input::WorksheetReader reader(app, frontend, water, request.DecimalSeparator);
  reader.Threads = request.Threads;
  if (const std::int16_t status = reader.ReadWorksheet(sheet, request.ExtendedRange)) {
    outcome.What = Result::Rejected;
    outcome.Status = status;
    outcome.Row = reader.CursorRow;
    outcome.Column = reader.CursorColumn;
    outcome.Message = reader.ErrorText;
    outcome.Detail = reader.ErrorDetail;
    return outcome;
  }
  outcome.Points = reader.Points.PointCount;
  outcome.UnreadRow = UnreadRow(reader, *sheet);
  if (outcome.Points == 0) return outcome;

  calc::DriverOptions options;
  options.Threads = request.Threads;
  options.ExtendedRange = request.ExtendedRange;
  options.Progress = request.Progress;
  try {
    calc::CalculateValues(reader, *sheet, frontend, options);
  } catch (const std::exception& e) {
    outcome.What = Result::Failed;
    outcome.LinkFailure = dynamic_cast<const link::LinkError*>(&e) != nullptr;
    outcome.Row = StoppedRow(reader, *sheet);
    outcome.Message = e.what();
  }
  Save(app, request, outcome);
  return outcome;
}

}  // namespace tersolv::job
