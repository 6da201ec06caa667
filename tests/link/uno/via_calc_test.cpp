// `tersolv calc --via-calc` end to end: the bundled example as .xlsx and as
// .ods and .xls copies gives the numbers and colour marks of the embedded
// backend; a missing or locked file fails clearly and leaves it as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "link/uno/calc_application.h"
#include "office_fixture.h"

namespace tersolv::link::uno {
namespace {

namespace fs = std::filesystem;
using testing::TestOffice;

struct ProgramRun {
  int ExitCode = -1;
  std::string Output;
};

ProgramRun Tersolv(const std::string& arguments, const fs::path& folder) {
  const fs::path out = folder / "output.txt";
  const std::string command =
      std::string("'") + TERSOLV_EXECUTABLE + "' " + arguments + " > '" + out.string() + "' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(out);
  ProgramRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(std::istreambuf_iterator<char>(in), {})};
  return run;
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool ParseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

class ViaCalc : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = testing::OfficeMissing(); !missing.empty()) GTEST_SKIP() << missing;
    folder_ = fs::path(::testing::TempDir()) / ("tersolv-via-calc-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  fs::path folder_;
};

TEST_F(ViaCalc, TheExampleInThreeFormatsGivesTheEmbeddedBackendsNumbersAndColours) {
  const fs::path example = fs::path(TERSOLV_EXAMPLE_DIR) / "Example.xlsx";
  ASSERT_TRUE(fs::exists(example)) << example;
  const fs::path embedded = folder_ / "embedded.xlsx";
  fs::copy_file(example, embedded);
  fs::copy_file(example, folder_ / "book.xlsx");
  TestOffice::Shared().EnsureRunning();
  {
    auto app = TestOffice::Shared().Attach();
    TestOffice::ConvertWorkbook(*app, example.string(), (folder_ / "book.ods").string());
    TestOffice::ConvertWorkbook(*app, example.string(), (folder_ / "book.xls").string());
  }

  const ProgramRun reference = Tersolv("calc '" + embedded.string() + "'", folder_);
  ASSERT_EQ(reference.ExitCode, 0) << reference.Output;
  for (const char* name : {"book.xlsx", "book.ods", "book.xls"}) {
    const ProgramRun run = Tersolv("calc --via-calc '" + (folder_ / name).string() + "'", folder_);
    ASSERT_EQ(run.ExitCode, 0) << name << ": " << run.Output;
    EXPECT_NE(run.Output.find("Results written to"), std::string::npos) << run.Output;
  }

  auto app = TestOffice::Shared().Attach();
  TestOffice::CloseAllDocuments(*app);
  app->OpenWorkbook(embedded.string(), true);
  const std::vector<std::string> sheets = app->SheetNames();
  ASSERT_FALSE(sheets.empty());
  int numbers = 0, colours = 0;
  for (const char* name : {"book.xlsx", "book.ods", "book.xls"}) {
    SCOPED_TRACE(name);
    const std::string path = (folder_ / name).string();
    app->OpenWorkbook(path, true);
    for (const std::string& sheetName : sheets) {
      SCOPED_TRACE(sheetName);
      app->ActivateWorkbook(1);
      app->ActivateSheet(sheetName);
      auto expected = app->ActiveSheet();
      app->ActivateWorkbook(app->WorkbookCount());
      app->ActivateSheet(sheetName);
      auto actual = app->ActiveSheet();
      for (int row = 1; row <= 3 || !expected->CellText(row, 1).empty(); ++row) {
        for (int column = 1; column <= 12; ++column) {
          const std::string e = expected->CellText(row, column), a = actual->CellText(row, column);
          double x = 0, y = 0;
          if (ParseNumber(e, x) && ParseNumber(a, y)) {
            EXPECT_LE(std::fabs(x - y), 1e-14 * std::fabs(x)) << "row " << row << " column " << column;
            ++numbers;
          } else {
            EXPECT_EQ(a, e) << "row " << row << " column " << column;
          }
          if (row >= 4 && (column == 5 || column == 12)) {  // marks colour a row's results alike
            const long c = TestOffice::FontColor(*app, path, sheetName, row, column);
            EXPECT_EQ(c, TestOffice::FontColor(*app, embedded.string(), sheetName, row, column))
                << "row " << row << " column " << column;
            colours += c != 0;
          }
        }
      }
    }
    app->CloseActiveWorkbook();
  }
  EXPECT_GT(numbers, 100);
  EXPECT_GT(colours, 0) << "the example marks no row by colour";
}

TEST_F(ViaCalc, MissingAndLockedFilesFailClearlyAndStayAsTheyWere) {
  const ProgramRun missing = Tersolv("calc --via-calc '" + (folder_ / "none.ods").string() + "'", folder_);
  EXPECT_EQ(missing.ExitCode, 5);
  EXPECT_NE(missing.Output.find("none.ods"), std::string::npos) << missing.Output;

  const fs::path book = folder_ / "Locked.xlsx";
  fs::copy_file(fs::path(TERSOLV_EXAMPLE_DIR) / "Example.xlsx", book);
  std::ofstream(folder_ / ".~lock.Locked.xlsx#")
      << "Another User,otherhost,otherhost,06.12.2026 21:00,file:///home/another/.config/libreoffice/4;";
  const std::string before = Bytes(book);
  const ProgramRun locked = Tersolv("calc --via-calc '" + book.string() + "'", folder_);
  EXPECT_EQ(locked.ExitCode, 5);
  EXPECT_NE(locked.Output.find("locked"), std::string::npos) << locked.Output;
  EXPECT_NE(locked.Output.find("Another User"), std::string::npos) << locked.Output;
  EXPECT_EQ(Bytes(book), before);
}

}  // namespace
}  // namespace tersolv::link::uno
