// An in-memory spreadsheet application: workbooks of named sheets held in
// memory, behind the spreadsheet-link interface. Used by `tersolv point` and
// by the tests, which also use its extras: edits "as a user would" (they fire
// the change handler while events are on), sheets that are not worksheets,
// closing workbooks, the application going away, a journal of the calls made
// on a sheet, and read-back of values and font colours.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "link/link.h"

namespace tersolv::link::memory {

// Largest row and column of a sheet (as in current spreadsheet programs).
inline constexpr int kMaxRow = 1048576;
inline constexpr int kMaxColumn = 16384;

// Contents of one cell: empty, a number or a text.
using CellValue = std::variant<std::monostate, double, std::string>;

struct AppState;

class MemorySheet : public Worksheet {
 public:
  MemorySheet(std::weak_ptr<AppState> app, std::string name, bool isWorksheet);

  // --- Worksheet ---
  std::string Name() const override;
  std::string CellText(int row, int column) const override;
  void WriteNumber(int row, int column, double value) override;
  void WriteText(int row, int column, const std::string& text) override;
  void WriteNumbers(int row, int column, std::span<const double> values) override;
  void ClearContents(int row, int firstColumn, int lastColumn) override;
  void SetFontColor(int row, int firstColumn, int lastColumn, Rgb color) override;
  void SetChangeHandler(std::function<void(const CellRange&)> handler) override;

  // --- Setting up and inspecting (no change events, no journal) ---
  void SetNumber(int row, int column, double value);
  void SetText(int row, int column, const std::string& text);
  CellValue Value(int row, int column) const;
  Rgb FontColor(int row, int column) const;  // 0 (black) unless set
  // Every cell holding a value, with its value.
  std::map<std::pair<int, int>, CellValue> Values() const;

  // An edit as a user would type it: text that reads as a number in the
  // application's notation is stored as that number, "" empties the cell,
  // anything else is stored as text. Fires the change handler while the
  // application's events are on.
  void UserEdit(int row, int column, const std::string& typed);

  // The journal: one line per call of WriteNumber ("N row col value"),
  // WriteText ("T row col text"), ClearContents ("C row first last") and
  // SetFontColor ("F row first last rgb"), while enabled.
  void EnableJournal(bool enabled) { journalOn_ = enabled; }
  const std::vector<std::string>& Journal() const { return journal_; }
  void ClearJournal() { journal_.clear(); }

  bool IsWorksheet() const { return isWorksheet_; }
  void MarkClosed() { closed_ = true; }

 private:
  struct Cell {
    enum Kind : std::uint8_t { kEmpty, kNumber, kText };
    Kind What = kEmpty;
    Rgb FontColor = 0;
    double Number = 0;
    std::uint32_t Text = 0;  // index into texts_
  };
  CellValue ValueOf(const Cell& cell) const;
  // The cell if it was ever stored, else nullptr.
  const Cell* Find(int row, int column) const {
    const auto r = static_cast<std::size_t>(row), c = static_cast<std::size_t>(column);
    return r < rows_.size() && c < rows_[r].size() ? &rows_[r][c] : nullptr;
  }
  Cell& At(int row, int column);  // grows the rows as needed
  // Raises LinkError unless the application is there, the workbook open and
  // the sheet a worksheet; `row`/`column` 0 skip the address check.
  std::shared_ptr<AppState> Check(int row, int column, int lastColumn = 0) const;
  void Store(int row, int column, CellValue value);
  void Notify(const std::shared_ptr<AppState>& app, const CellRange& range) const;
  void Log(std::string line) {
    if (journalOn_) journal_.push_back(std::move(line));
  }

  std::weak_ptr<AppState> app_;
  std::string name_;
  bool isWorksheet_;
  bool closed_ = false;
  std::vector<std::vector<Cell>> rows_;  // [row][column], index 0 unused
  std::vector<std::string> texts_;       // texts of text cells
  std::function<void(const CellRange&)> handler_;
  bool journalOn_ = false;
  std::vector<std::string> journal_;
};

// One open workbook.
struct MemoryWorkbook {
  std::string Name;      // file name, e.g. "Data.xlsx"
  std::string FullName;  // full path, "" if never saved
  std::vector<std::shared_ptr<MemorySheet>> Sheets;
  std::size_t ActiveSheet = 0;
};

struct AppState {
  char DecimalSeparator = '.';
  bool Visible = false;
  bool EventsEnabled = true;
  std::vector<std::shared_ptr<MemoryWorkbook>> Workbooks;
  std::size_t Active = 0;  // index into Workbooks
};

class MemoryApplication : public Application {
 public:
  explicit MemoryApplication(char decimalSeparator = '.');
  ~MemoryApplication() override;

  // --- Application ---
  void SetVisible(bool visible) override;
  std::string ActiveWorkbookName() override;
  std::string ActiveSheetName() override;
  std::shared_ptr<Worksheet> ActiveSheet() override;
  std::shared_ptr<Worksheet> FirstWorksheet() override;
  int WorkbookCount() override;
  std::string WorkbookName(int index) override;
  std::string WorkbookFullName(int index) override;
  void ActivateWorkbook(int index) override;
  void OpenWorkbook(const std::string& path, bool readOnly) override;
  // An untitled workbook ("Untitled 1", "Untitled 2", ...) with the sheets of
  // the file registered for `templatePath` (see AddFile).
  void NewWorkbookFromTemplate(const std::string& templatePath, const std::string& saveFolder) override;
  void SetEventsEnabled(bool enabled) override;
  bool EventsEnabled() const override;
  void Quit() override;

  // --- Setting up ---
  // A new empty workbook, made active.
  MemoryWorkbook& AddWorkbook(const std::string& name, const std::string& fullName = "");
  // A new sheet at the end of the active workbook (a worksheet unless
  // `isWorksheet` is false, e.g. a chart sheet); the first sheet added to a
  // workbook is its active sheet.
  std::shared_ptr<MemorySheet> AddSheet(const std::string& name, bool isWorksheet = true);
  // Makes the sheet of that name the active sheet of the active workbook.
  void ActivateSheet(const std::string& name);
  // Lets OpenWorkbook(fullPath) open a workbook: it adds an empty workbook
  // named after the file, makes it active and lets `fill` add its sheets.
  void AddFile(const std::string& fullPath, std::function<void(MemoryApplication&)> fill);
  // A sheet of the active workbook by name (nullptr if none).
  std::shared_ptr<MemorySheet> Sheet(const std::string& name);

  // --- Simulating ---
  void CloseWorkbook(int index);  // 1-based; its sheets fail from then on
  // The user saves workbook `index` (1-based) under `fullPath`.
  void SaveWorkbookAs(int index, const std::string& fullPath);
  void SimulateGone();            // every later call fails with kApplicationGone
  bool Visible() const;
  char DecimalSeparator() const;

 private:
  AppState& State() const;  // raises kApplicationGone
  MemoryWorkbook& ActiveBook() const;  // raises kNoWorkbook
  std::shared_ptr<AppState> state_;
  std::map<std::string, std::function<void(MemoryApplication&)>> files_;
  int untitled_ = 0;  // untitled workbooks made so far
};

// Reads `typed` as a user's number in the notation with `decimalSeparator`;
// false when it is not one (then `value` is untouched).
bool ParseTypedNumber(const std::string& typed, char decimalSeparator, double& value);

}  // namespace tersolv::link::memory
