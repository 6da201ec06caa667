// A LibreOffice for the tests of the Calc link and of the panel, with a private profile folder and pipe,
// stopped by its process id (group); the user's side (workbook files, font colours, typing into cells
// through the office's dispatcher) over the connection of the application under test; and the fixture of
// the link's tests: the shared headless office running, a fresh application attached to it with no
// document open, and a folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "link/link.h"
#include "link/link_error_check.h"

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
// A sheet of a layout ("Ternary system" or "Components") with its headers and these rows of input from
// row 4, each a number where it reads as one.
Sheet Layout(const std::string& name, const std::vector<std::vector<std::string>>& rows);

class TestOffice {
 public:
  explicit TestOffice(bool headless = true);
  ~TestOffice();
  TestOffice(const TestOffice&) = delete;
  TestOffice& operator=(const TestOffice&) = delete;
  static TestOffice& Shared();  // the headless office of the test program

  const std::string& Pipe() const { return pipe_; }
  long ProcessId() const { return pid_; }
  // Reaps an office that ended (killed, quit, aborted on its own); EnsureRunning then starts a new one.
  bool Running();
  void EnsureRunning();
  // An application attached to this office, starting it if it does not run.
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
  // 0 for the automatic colour.
  static Rgb FontColor(CalcApplication& app, const std::string& path, const std::string& sheet, int row, int column);
  // Loads the file of `path` again into the window that shows it (a new document object), as the office's
  // File > Reload does.
  static void Reload(CalcApplication& app, const std::string& path);
  // Types `text` into the cell and presses Enter, as a user does.
  static void UserEdit(CalcApplication& app, const std::string& path, const std::string& sheet, int row, int column,
                       const std::string& text);

 private:
  bool headless_;
  std::string folder_, pipe_;
  long pid_ = 0;
};

class OfficeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes these sheets as <stem>.ods in the test's folder and opens it read-write; returns its path.
  std::string Open(const std::string& stem, const std::vector<Sheet>& sheets);

  std::filesystem::path folder_;
  std::unique_ptr<CalcApplication> app_;
};

}  // namespace tersolv::link::uno::testing
