// One open workbook file of the embedded backend (.xlsx or .csv): its sheets
// as link worksheets, and its bytes for saving. Used by BookApplication.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/book/book_limits.h"
#include <string>
#include "link/link.h"

namespace tersolv::link::book {

// What every sheet of an open file shares: the application's event switch,
// whether the file is still open, and whether it has unsaved changes.
struct BookState {
  std::shared_ptr<const bool> EventsEnabled;
  char DecimalSeparator = '.';
  bool Open = true;
  bool Modified = false;
  int MarkedCellsNotStored = 0;  // coloured cells a format without colours could not keep
  // Formula cells (sheet, row, column) whose cached value is kept when cells
  // were written; the others lose it so that applications calculate them.
  std::function<bool(std::string_view, int, int)> KeepsFormulaValue;
};

// Base of the worksheets of both formats: checks addresses and the open
// state, and delivers the change notification; the storage is the format's.
class BookSheet : public Worksheet {
 public:
  explicit BookSheet(std::shared_ptr<BookState> state) : state_(std::move(state)) {}

  // Every member fails with LinkError (kNoWorkbook) once the workbook is
  // closed: the storage behind a sheet goes with its workbook.
  std::string Name() const final;
  std::string CellText(int row, int column) const final;
  void WriteNumber(int row, int column, double value) final;
  void WriteText(int row, int column, const std::string& text) final;
  void WriteNumbers(int row, int column, std::span<const double> values) final;
  void ClearContents(int row, int firstColumn, int lastColumn) final;
  void SetFontColor(int row, int firstColumn, int lastColumn, Rgb color) final;
  void SetChangeHandler(std::function<void(const CellRange&)> handler) final;

  // Last row that holds a cell, and the last column of that row's cells (0 if none).
  int LastRow() const;
  int LastColumn(int row) const;
  // The font colour of a cell as the file keeps it (0, black, when the
  // format keeps none or the colour is automatic or a theme colour).
  Rgb FontColor(int row, int column) const;

 protected:
  virtual std::string StoredName() const = 0;
  virtual int UsedRows() const = 0;
  virtual int UsedColumns(int row) const = 0;
  virtual Rgb StoredFontColor(int row, int column) const = 0;
  virtual std::string Text(int row, int column) const = 0;
  virtual void PutNumber(int row, int column, double value) = 0;
  virtual void PutText(int row, int column, const std::string& text) = 0;
  virtual void Clear(int row, int firstColumn, int lastColumn) = 0;
  virtual void Color(int row, int firstColumn, int lastColumn, Rgb color) = 0;
  const BookState& State() const { return *state_; }
  BookState& State() { return *state_; }

 private:
  void CheckOpen() const;
  void Changed(int row, int firstColumn, int lastColumn);
  std::shared_ptr<BookState> state_;
  std::function<void(const CellRange&)> handler_;
};

class BookFile {
 public:
  virtual ~BookFile() = default;
  virtual int SheetCount() const = 0;
  virtual std::string SheetName(int index) const = 0;  // from 0
  // nullptr when sheet `index` is not a worksheet (chart sheet, dialog...)
  virtual std::shared_ptr<BookSheet> Sheet(int index) = 0;
  // The sheet the file marks as active.
  virtual int ActiveSheetIndex() const = 0;
  // The whole file as it would be saved now.
  virtual std::string Serialize() = 0;
};

// Opens a file's bytes; LinkError (kFileError) naming `displayName` when they
// are not a readable workbook of that format.
std::unique_ptr<BookFile> OpenXlsx(std::string bytes, const std::string& displayName,
                                   std::shared_ptr<BookState> state, const Limits& limits);
std::unique_ptr<BookFile> OpenXlsx(std::string_view bytes, const std::string& displayName,
                                   std::shared_ptr<BookState> state, const Limits& limits);
std::unique_ptr<BookFile> OpenCsv(std::string bytes, const std::string& displayName, const std::string& sheetName,
                                  std::shared_ptr<BookState> state, const Limits& limits);

}  // namespace tersolv::link::book
