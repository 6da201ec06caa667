// The spreadsheet link: every operation that the reader, the driver and the
// shell perform on the spreadsheet application, behind one interface.
//
// Backends: an in-memory workbook (tests, `tersolv point`), workbook files
// (src/link/book) and LibreOffice Calc through UNO (src/link/uno). Rows and
// columns are numbered from 1, as the spreadsheet numbers them. Every
// operation may fail with LinkError (application gone, no workbook, not a
// worksheet, file unreadable).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

namespace tersolv::link {

// A failed spreadsheet call: an error number and its description.
class LinkError : public std::runtime_error {
 public:
  LinkError(int number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  int Number() const noexcept { return number_; }
  std::string Description() const { return what(); }

 private:
  int number_;
};

// Error numbers of LinkError.
enum LinkErrorNumber : int {
  kApplicationGone = 1,   // the spreadsheet application does not answer
  kNoWorkbook = 2,        // no workbook is open
  kNotAWorksheet = 3,     // the sheet is not a worksheet (chart, dialog...)
  kFileError = 4,         // a file could not be opened, read or saved
  kBadArgument = 5,       // an index or cell address out of range
  kOtherError = 99,
};

// An RGB colour in the spreadsheet's encoding: red + 256 green + 65536 blue.
using Rgb = std::uint32_t;
inline constexpr Rgb RgbColor(int red, int green, int blue) {
  return static_cast<Rgb>(red) + 256u * static_cast<Rgb>(green) + 65536u * static_cast<Rgb>(blue);
}

// A block of changed cells, as reported by the change notification.
struct CellRange {
  int FirstRow = 0, FirstColumn = 0, LastRow = 0, LastColumn = 0;
};

// One worksheet. The logic keeps shared references to it (DataSheet).
class Worksheet {
 public:
  virtual ~Worksheet() = default;

  virtual std::string Name() const = 0;

  // The value of cell (row, column) as text: "" for an empty cell, a number
  // written in the system's own notation (the decimal separator of the
  // user's locale, e.g. "1,5" where it is a comma), text as it stands.
  virtual std::string CellText(int row, int column) const = 0;

  // Writes take effect at once (within a batch: see BeginBatch), one call per cell.
  virtual void WriteNumber(int row, int column, double value) = 0;
  virtual void WriteText(int row, int column, const std::string& text) = 0;
  // Writes values.size() numbers into (row, column), (row, column + 1), ...
  // Same effect as one WriteNumber per value; backends may do it in one call.
  virtual void WriteNumbers(int row, int column, std::span<const double> values) {
    for (std::size_t k = 0; k < values.size(); ++k) WriteNumber(row, column + static_cast<int>(k), values[k]);
  }

  // Clears the contents of cells (row, firstColumn)..(row, lastColumn);
  // formatting is left alone.
  virtual void ClearContents(int row, int firstColumn, int lastColumn) = 0;
  // Sets the font colour of cells (row, firstColumn)..(row, lastColumn);
  // nothing else of their formatting changes.
  virtual void SetFontColor(int row, int firstColumn, int lastColumn, Rgb color) = 0;

  // A batch: between BeginBatch() and EndBatch() a backend may read cells
  // from blocks it fetched at once and hold writes back to send them in
  // blocks (at least every half second, so that a long run shows). The sheet
  // ends as the same calls made one by one leave it, and reads see the
  // writes before them (formulas that depend on them may show their new
  // values only once the batch ends). EndBatch() sends what is held and ends the batch even
  // when that fails (it then throws). Batches nest; the other backends need
  // nothing of it. Use CellBatch rather than these two.
  virtual void BeginBatch() {}
  virtual void EndBatch() {}

  // The change notification of this sheet: `handler` is called for every
  // change of cell contents while the application's event delivery is on
  // (delivered on the caller's thread). An empty handler stops it.
  virtual void SetChangeHandler(std::function<void(const CellRange&)> handler) = 0;
};

// A batch of a sheet's cell traffic for the length of a scope. Finish()
// ends it and reports a failure to send what was held; a scope left by an
// exception ends it too, sending what it can (the writes made before the
// failure), and keeps the first failure.
class CellBatch {
 public:
  explicit CellBatch(Worksheet& sheet) : sheet_(&sheet) { sheet.BeginBatch(); }
  ~CellBatch() {
    if (!sheet_) return;
    try {
      sheet_->EndBatch();
    } catch (...) {
      // The failure that left the scope is the one to report.
    }
  }
  CellBatch(const CellBatch&) = delete;
  CellBatch& operator=(const CellBatch&) = delete;
  void Finish() {
    Worksheet* sheet = sheet_;
    sheet_ = nullptr;
    if (sheet) sheet->EndBatch();
  }

 private:
  Worksheet* sheet_;
};

// The spreadsheet application.
class Application {
 public:
  virtual ~Application() = default;

  virtual void SetVisible(bool visible) = 0;

  // Name of the active workbook (its file name, e.g. "Data.xlsx");
  // LinkError when no workbook is open or the application is gone.
  virtual std::string ActiveWorkbookName() = 0;
  // Name of the active sheet of the active workbook (any kind of sheet).
  virtual std::string ActiveSheetName() = 0;
  // The active sheet as a worksheet; LinkError (kNotAWorksheet) when it is not one.
  virtual std::shared_ptr<Worksheet> ActiveSheet() = 0;
  // The first worksheet of the active workbook.
  virtual std::shared_ptr<Worksheet> FirstWorksheet() = 0;

  // Open workbooks, numbered from 1.
  virtual int WorkbookCount() = 0;
  virtual std::string WorkbookName(int index) = 0;      // file name
  virtual std::string WorkbookFullName(int index) = 0;  // full path ("" if never saved)
  virtual void ActivateWorkbook(int index) = 0;
  // Opens the file at `path` (reusing a copy already open from that path)
  // and makes it the active workbook.
  virtual void OpenWorkbook(const std::string& path, bool readOnly) = 0;
  // Opens a new, untitled workbook made from the file at `templatePath`
  // (which itself stays untouched) and makes it the active workbook: it can be
  // edited at once, and its first save asks for a name (`saveFolder` is
  // suggested for it where the backend can). Backends without such a document refuse it (kOtherError).
  virtual void NewWorkbookFromTemplate(const std::string& templatePath, const std::string& saveFolder) {
    (void)saveFolder;
    throw LinkError(kOtherError, "Cannot make a new workbook from \"" + templatePath + "\" here");
  }

  // Switches the delivery of change notifications on or off.
  virtual void SetEventsEnabled(bool enabled) = 0;
  virtual bool EventsEnabled() const = 0;

  virtual void Quit() = 0;
};

// The notation of a number in a cell's text, shared by every backend: at most
// 15 significant digits, no trailing zeros, exponent form "1E-10" or
// "1.5E+20" where the value is very small or large (as printf's "%.15G"),
// "-0" written as "0", and `decimalSeparator` ('.' or ',') in place of the
// decimal point.
std::string NumberText(double value, char decimalSeparator);

// The decimal separator of the user's locale (std::locale("")), '.' when the
// locale cannot be had.
char SystemDecimalSeparator();

}  // namespace tersolv::link
