// The embedded spreadsheet application: workbooks are .xlsx or .csv files,
// opened into memory, edited through the link's worksheets and saved back in
// place. Used by `tersolv calc` and by tests; no spreadsheet program runs.
//
// .xlsx files keep everything that was not touched (other sheets, styles,
// number formats, widths, merged cells, formulas elsewhere). A .csv file is
// one sheet, named by the caller or else after the file ("Ternary
// system.csv" is a sheet "Ternary system"); it keeps no font colours.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/book/book_limits.h"
#include "link/book/file_io.h"
#include "link/link.h"

namespace tersolv::link::book {

class BookSheet;

class BookApplication : public Application {
 public:
  // decimalSeparator: how CellText writes numbers ('.' or ',').
  explicit BookApplication(char decimalSeparator = '.', Limits limits = {});
  ~BookApplication() override;

  void SetVisible(bool) override {}
  std::string ActiveWorkbookName() override;
  std::string ActiveSheetName() override;
  std::shared_ptr<Worksheet> ActiveSheet() override;
  std::shared_ptr<Worksheet> FirstWorksheet() override;
  int WorkbookCount() override;
  std::string WorkbookName(int index) override;
  std::string WorkbookFullName(int index) override;
  void ActivateWorkbook(int index) override;
  void OpenWorkbook(const std::string& path, bool readOnly) override;
  void SetEventsEnabled(bool enabled) override;
  bool EventsEnabled() const override;
  // Closes every workbook without saving.
  void Quit() override;

  // Opens `path` as OpenWorkbook does; a .csv file's sheet is called
  // `csvSheetName` when it is not empty.
  void OpenWorkbook(const std::string& path, bool readOnly, const std::string& csvSheetName);
  // Names of the sheets of the active workbook, in order.
  std::vector<std::string> SheetNames();
  // Makes the named sheet of the active workbook its active sheet (the file
  // itself is not changed by this); LinkError (kBadArgument) when absent.
  void ActivateSheet(const std::string& name);
  // Whether the active workbook changed since it was opened or saved.
  bool Modified();
  // Saves the active workbook into its file. LinkError (kFileError) when the
  // workbook is read-only, when the file changed on disk since it was opened
  // or changes while it is saved (it is then left alone), or when writing
  // fails (the file keeps its old contents). A workbook opened for writing
  // holds the file's lock (WorkbookLock) until it is closed: opening fails
  // while another run or a LibreOffice Calc holds it, or when the file
  // cannot be replaced (read-only, not a regular file).
  void Save();
  // Saves the active workbook into another file of the same format, which
  // then becomes the workbook's file.
  void SaveAs(const std::string& path);
  // Takes the lock of `path` now (SaveAs would take it), so that a run that
  // will save there fails before its work when another holds it.
  void LockOutput(const std::string& path);
  // Formula cells (sheet, row, column) whose cached values a save keeps;
  // the others lose them when cells were written, so that applications
  // calculate them anew.
  void KeepFormulaValues(std::function<bool(std::string_view, int, int)> keep);
  // Font colours other than black set on cells of the active workbook that
  // its format cannot store (.csv), since it was opened.
  int MarkedCellsNotStored();
  // The active workbook's worksheet extent (for writing other formats).
  static int LastRow(const Worksheet& sheet);
  static int LastColumn(const Worksheet& sheet, int row);
  // A cell's font colour as the file keeps it (0 for .csv).
  static Rgb FontColor(const Worksheet& sheet, int row, int column);

 private:
  struct OpenBook;
  OpenBook& Active();
  OpenBook& At(int index);
  void WriteFile(OpenBook& book, const std::string& path, const FileStamp* expected);

  char decimalSeparator_;
  Limits limits_;
  std::shared_ptr<bool> events_;
  std::vector<std::unique_ptr<OpenBook>> books_;
  std::map<std::string, std::unique_ptr<WorkbookLock>> outputLocks_;
  std::function<bool(std::string_view, int, int)> keepsFormulaValue_;
  int active_ = -1;
};

// Whether `path` names a .csv file (by its extension, in any case).
bool IsCsvPath(const std::string& path);

}  // namespace tersolv::link::book
