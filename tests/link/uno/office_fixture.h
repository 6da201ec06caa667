// A headless LibreOffice for the tests of the Calc link: one per test program, with a private profile folder
// and pipe, stopped by its process id (group); plus the user's side (workbook files, font colours, typing
// into cells through the office's dispatcher), over the connection of the application under test.
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace tersolv::link::uno {
class CalcApplication;
}  // namespace tersolv::link::uno

namespace tersolv::link::uno::testing {

std::string OfficeMissing();  // why the office tests cannot run here ("" when they can)
std::string FileBytes(const std::string& path);

struct Cell {
  int Row = 1, Column = 1;
  std::variant<double, std::string> Value;
};
struct Sheet {
  std::string Name;
  std::vector<Cell> Cells;
};

class TestOffice {
 public:
  static TestOffice& Shared();
  ~TestOffice();

  const std::string& Pipe() const { return pipe_; }
  long ProcessId() const { return pid_; }
  // Reaps an office that ended (killed, quit, aborted on its own); EnsureRunning then starts a new one.
  bool Running();
  void EnsureRunning();
  // A headless application attached to this office, starting it if it does not run.
  std::unique_ptr<CalcApplication> Attach(char decimalSeparator = '.');
  void Kill();  // SIGKILL to its process group, and waits for it

  static void CloseAllDocuments(CalcApplication& app);
  // Writes or converts a workbook file; the format follows the extension (.ods, .xlsx, .xls).
  static void WriteWorkbook(CalcApplication& app, const std::string& path, const std::vector<Sheet>& sheets);
  static void ConvertWorkbook(CalcApplication& app, const std::string& from, const std::string& to);
  // In the open document of `path` ("": the untitled one):
  static void SetActiveSheet(CalcApplication& app, const std::string& path, const std::string& sheet);
  // The contents of cells (firstRow..lastRow, 1..lastColumn) as the office holds them, row by row: a
  // number, a text, or nothing (an empty text too).
  using Contents = std::variant<std::monostate, double, std::string>;
  static std::vector<std::vector<Contents>> CellContents(CalcApplication& app, const std::string& path,
                                                         const std::string& sheet, int firstRow, int lastRow,
                                                         int lastColumn);
  // Whether the document is as the user left it between runs: calculation automatic, its windows
  // neither locked nor held.
  static bool Settled(CalcApplication& app, const std::string& path);
  static void Protect(CalcApplication& app, const std::string& path, const std::string& sheet, bool on);
  // 0xRRGGBB, 0 for the automatic colour.
  static long FontColor(CalcApplication& app, const std::string& path, const std::string& sheet, int row, int column);
  // Loads the file of `path` again into the window that shows it (a new document object), as the office's
  // File > Reload does.
  static void Reload(CalcApplication& app, const std::string& path);
  // Types `text` into the cell and presses Enter, as a user does.
  static void UserEdit(CalcApplication& app, const std::string& path, const std::string& sheet, int row, int column,
                       const std::string& text);

 private:
  TestOffice();
  std::string folder_, pipe_;
  long pid_ = 0;
};

}  // namespace tersolv::link::uno::testing
