// `tersolv calc --via-calc` end to end: the bundled example as .xlsx, .ods and .xls gives the numbers and
// colour marks of the embedded backend; a missing or locked file fails clearly and stays as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "link/uno/calc_application.h"
#include "office_fixture.h"

namespace tersolv::link::uno {
namespace {

namespace fs = std::filesystem;
using testing::FileBytes;
using testing::TestOffice;

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
  // Runs the program on `book`; returns its exit code, and its output in `output`.
  int Tersolv(const std::string& options, const fs::path& book, std::string& output) {
    const fs::path out = folder_ / "output.txt";
    const std::string command = std::string("'") + TERSOLV_EXECUTABLE + "' calc " + options + " '" + book.string() +
                                "' > '" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    output = FileBytes(out.string());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  fs::path folder_;
  const fs::path example_ = fs::path(TERSOLV_EXAMPLE_DIR) / "Example.xlsx";
};

bool ParseNumber(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size();
}

TEST_F(ViaCalc, TheExampleInThreeFormatsGivesTheEmbeddedBackendsNumbersAndColours) {
  const fs::path embedded = folder_ / "embedded.xlsx";
  fs::copy_file(example_, embedded);
  fs::copy_file(example_, folder_ / "book.xlsx");
  {
    auto app = TestOffice::Shared().Attach();
    TestOffice::ConvertWorkbook(*app, example_.string(), (folder_ / "book.ods").string());
    TestOffice::ConvertWorkbook(*app, example_.string(), (folder_ / "book.xls").string());
  }
  std::string output;
  ASSERT_EQ(Tersolv("", embedded, output), 0) << output;
  for (const char* name : {"book.xlsx", "book.ods", "book.xls"}) {
    ASSERT_EQ(Tersolv("--via-calc", folder_ / name, output), 0) << name << ": " << output;
    EXPECT_NE(output.find("Results written to"), std::string::npos) << output;
  }

  auto app = TestOffice::Shared().Attach();
  TestOffice::CloseAllDocuments(*app);
  app->OpenWorkbook(embedded.string(), true);
  const std::vector<std::string> sheets = app->SheetNames();
  int numbers = 0, colours = 0;
  for (const char* name : {"book.xlsx", "book.ods", "book.xls"}) {
    const std::string path = (folder_ / name).string();
    app->OpenWorkbook(path, true);
    for (const std::string& sheetName : sheets) {
      SCOPED_TRACE(std::string(name) + " " + sheetName);
      app->ActivateWorkbook(1);
      app->ActivateSheet(sheetName);
      auto expected = app->ActiveSheet();
      app->ActivateWorkbook(2);
      app->ActivateSheet(sheetName);
      auto actual = app->ActiveSheet();
      for (int row = 1; row <= 3 || !expected->CellText(row, 1).empty(); ++row) {
        for (int column = 1; column <= 12; ++column) {
          SCOPED_TRACE("row " + std::to_string(row) + " column " + std::to_string(column));
          const std::string e = expected->CellText(row, column), a = actual->CellText(row, column);
          double x = 0, y = 0;
          if (ParseNumber(e, x) && ParseNumber(a, y)) {
            EXPECT_LE(std::fabs(x - y), 1e-14 * std::fabs(x));  // LibreOffice keeps 15 digits
            ++numbers;
          } else {
            EXPECT_EQ(a, e);
          }
          if (row >= 4 && (column == 5 || column == 12)) {  // marks colour a row's results alike
            const long c = TestOffice::FontColor(*app, path, sheetName, row, column);
            EXPECT_EQ(c, TestOffice::FontColor(*app, embedded.string(), sheetName, row, column));
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
  std::string output;
  EXPECT_EQ(Tersolv("--via-calc", folder_ / "none.ods", output), 5);
  EXPECT_NE(output.find("none.ods"), std::string::npos) << output;

  const fs::path book = folder_ / "Locked.xlsx";
  fs::copy_file(example_, book);
  std::ofstream(folder_ / ".~lock.Locked.xlsx#")
      << "Another User,otherhost,otherhost,06.12.2026 21:00,file:///home/another/.config/libreoffice/4;";
  const std::string before = FileBytes(book.string());
  EXPECT_EQ(Tersolv("--via-calc", book, output), 5);
  EXPECT_NE(output.find("locked"), std::string::npos) << output;
  EXPECT_NE(output.find("Another User"), std::string::npos) << output;
  EXPECT_EQ(FileBytes(book.string()), before);
}

}  // namespace
}  // namespace tersolv::link::uno
