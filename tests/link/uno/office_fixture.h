// A headless LibreOffice for the tests of the Calc link: started once per
// test program with a private profile folder in a temporary folder, on a
// pipe of its own, and stopped by its process id (its process group) at the
// end; plus "the user's side": preparing workbook files, reading font
// colours and typing into cells the way a user does, through the office's
// own dispatcher (not through the link's write path). These use the
// connection of the application under test (one UNO bridge per process).
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace tersolv::link::uno {
class CalcApplication;
}

namespace tersolv::link::uno::testing {

// Why the office tests cannot run here ("" when they can).
std::string OfficeMissing();

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
  // The office of this test program, started on first use (again after it
  // was killed or quit).
  static TestOffice& Shared();
  ~TestOffice();

  const std::string& Pipe() const { return pipe_; }
  long ProcessId() const { return pid_; }
  // Starts the office unless it runs; throws std::runtime_error on failure.
  void EnsureRunning();
  // A headless application attached to this office (started if needed).
  std::unique_ptr<CalcApplication> Attach(char decimalSeparator = '.');
  // Kills the office (SIGKILL to its process group) and waits for it.
  void Kill();
  // Stops it: SIGTERM, then SIGKILL after a few seconds.
  void Stop();

  // --- the user's side (a second connection) ---
  static void CloseAllDocuments(CalcApplication& app);
  // Writes a workbook file (format from the extension: .ods, .xlsx, .xls).
  static void WriteWorkbook(CalcApplication& app, const std::string& path, const std::vector<Sheet>& sheets);
  // Converts a workbook file into another format (by the target's extension).
  static void ConvertWorkbook(CalcApplication& app, const std::string& from, const std::string& to);
  // In the open document of `path`: make `sheet` the active sheet.
  static void SetActiveSheet(CalcApplication& app, const std::string& path, const std::string& sheet);
  // Font colour of a cell as 0xRRGGBB, 0 for the automatic colour.
  static long FontColor(CalcApplication& app, const std::string& path, const std::string& sheet, int row, int column);
  // Types `text` into the cell and presses Enter.
  static void UserEdit(CalcApplication& app, const std::string& path, const std::string& sheet, int row, int column,
                       const std::string& text);

 private:
  TestOffice();
  void Start();
  bool Running();
  std::string folder_, pipe_;
  long pid_ = 0;
};

}  // namespace tersolv::link::uno::testing
