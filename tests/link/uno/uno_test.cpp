// What the Calc link does beyond the contract: queued user edits, formula cells, lock files, starting an
// office, an office that hangs; and `tersolv calc --via-calc`.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include "link/uno/calc_application.h"
#include "office_fixture.h"

namespace tersolv::link::uno {
namespace {

namespace fs = std::filesystem;
using testing::FileBytes;
using testing::TestOffice;
using namespace std::chrono_literals;

// Runs `tersolv calc` on `book`; returns its exit code, and what it printed in `output`.
int Tersolv(const std::string& options, const fs::path& book, std::string& output) {
  const std::string out = ::testing::TempDir() + "tersolv-output-" + std::to_string(::getpid()) + ".txt";
  const int status = std::system(
      ("'" TERSOLV_EXECUTABLE "' calc " + options + " '" + book.string() + "' > '" + out + "' 2>&1").c_str());
  output = FileBytes(out);
  fs::remove(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using CalcLink = testing::OfficeTest;

TEST_F(CalcLink, UserEditsOfTheDataSheetAreQueuedUntilAskedForAndOwnWritesNeverCount) {
  const std::vector<std::vector<std::string>> rows(3, {"25", "10", "0.1", "1"});
  const std::string path = Open("Events", {testing::Layout("Ternary system", rows), {"Notes", {}}});
  auto sheet = app_->FirstWorksheet();
  std::vector<CellRange> seen;
  std::atomic<int> wakeups{0};
  app_->SetEventWakeup([&] { ++wakeups; });
  sheet->SetChangeHandler([&](const CellRange& r) { seen.push_back(r); });
  app_->SetEventsEnabled(true);

  sheet->WriteNumber(4, 5, 1.0);
  sheet->WriteText(5, 5, "=1+1");  // written as text, not as a formula
  EXPECT_EQ(sheet->CellText(5, 5), "=1+1");
  sheet->ClearContents(5, 5, 7);
  sheet->SetFontColor(4, 5, 12, RgbColor(255, 0, 0));
  const double row[] = {0.1, std::numeric_limits<double>::infinity()};
  ExpectLinkError(kBadArgument, [&] { sheet->WriteNumbers(6, 5, row); });
  EXPECT_EQ(sheet->CellText(6, 5), "");  // nothing of the row written
  ExpectLinkError(kBadArgument, [&] { sheet->WriteNumber(6, 5, std::nan("")); });
  TestOffice::UserEdit(*app_, path, "Notes", 4, 1, "12");  // not the data sheet
  EXPECT_EQ(app_->ProcessEvents(), 0);
  EXPECT_EQ(wakeups, 0);

  TestOffice::UserEdit(*app_, path, "Ternary system", 5, 3, "=1/4");
  EXPECT_TRUE(seen.empty());  // queued on the office's thread until asked for
  EXPECT_EQ(wakeups, 1);
  EXPECT_EQ(app_->ProcessEvents(), 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(std::pair(seen[0].FirstRow, seen[0].FirstColumn), std::pair(5, 3));
  EXPECT_EQ(sheet->CellText(5, 3), "0.25");  // a formula reads as its result

  TestOffice::UserEdit(*app_, path, "Ternary system", 6, 3, "=1/0");
  app_->SetEventsEnabled(false);  // hands over what came while delivery was on
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(sheet->CellText(6, 3), "#DIV/0!");
}

TEST_F(CalcLink, TheLinkOutlivesQuitWithUnsavedWorkAClosedWorkbookAndASecondConnection) {
  Open("Unsaved", {testing::Layout("Ternary system", {{"25", "10", "0", "0"}})});
  auto sheet = app_->ActiveSheet();
  sheet->WriteNumber(4, 5, 1.0);
  app_->Quit();  // keeps an office with unsaved work running
  EXPECT_EQ(sheet->CellText(4, 5), "1");
  ExpectLinkError(kApplicationGone, [&] { TestOffice::Shared().Attach(); }, {"already"});
  sheet->SetChangeHandler([](const CellRange&) {});
  app_->CloseActiveWorkbook();
  ExpectLinkError(kNoWorkbook, [&] { sheet->CellText(4, 1); });
  ExpectLinkError(kNoWorkbook, [&] { sheet->WriteNumber(4, 5, 1.0); });
  EXPECT_EQ(app_->WorkbookCount(), 0);  // the office still answers
}

TEST_F(CalcLink, LockedMissingAndNonWorkbookFilesAreRefusedClearlyAndStayAsTheyWere) {
  const std::string path = (folder_ / "Locked.ods").string();
  TestOffice::WriteWorkbook(*app_, path, {{"Components", {{1, 1, "x"}}}});
  std::ofstream(folder_ / ".~lock.Locked.ods#") << "Another User,otherhost,otherhost,06.12.2026 21:00,file:///x;";
  std::ofstream(folder_ / "notes.txt") << "hello\n";
  const std::string before = FileBytes(path);
  ExpectLinkError(kFileError, [&] { app_->OpenWorkbook(path, false); }, {"locked", "Another User"});
  for (const fs::path& bad : {folder_ / "none.xlsx", folder_, folder_ / "notes.txt"}) {
    SCOPED_TRACE(bad);
    ExpectLinkError(kFileError, [&] { app_->OpenWorkbook(bad.string(), true); });
  }
  EXPECT_EQ(app_->WorkbookCount(), 0);
  std::string output;
  EXPECT_EQ(Tersolv("--via-calc", folder_ / "none.ods", output), 5);
  EXPECT_NE(output.find("none.ods"), std::string::npos) << output;
  EXPECT_EQ(Tersolv("--via-calc", path, output), 5);
  for (const char* part : {"locked", "Another User"}) EXPECT_NE(output.find(part), std::string::npos) << output;

  app_->OpenWorkbook(path, true);
  EXPECT_EQ(app_->ActiveSheet()->CellText(1, 1), "x");
  ExpectLinkError(kFileError, [&] { app_->SaveActiveWorkbook(); }, {"read-only"});
  EXPECT_EQ(FileBytes(path), before);
}

TEST(CalcStart, StartsAnOfficeWhenNoneAnswersAttachesToItCutsOffOneThatHangsAndQuitEndsIt) {
  if (const std::string missing = testing::OfficeMissing(); !missing.empty()) GTEST_SKIP() << missing;
  TestOffice& office = TestOffice::Shared();
  office.Kill();
  CalcOptions options;
  options.PipeName = "bad;name";
  ExpectLinkError(kBadArgument, [&] { CalcApplication app(options); });
  options.PipeName = office.Pipe();
  options.Start = false;
  ExpectLinkError(kApplicationGone, [&] { CalcApplication app(options); }, {office.Pipe().c_str()});
  EXPECT_GT(office.Attach()->StartedProcessId(), 0);
  auto attached = office.Attach();  // the office outlived the application that started it
  EXPECT_EQ(attached->StartedProcessId(), 0);
  attached->Quit();
  EXPECT_THROW(attached->WorkbookCount(), LinkError);
  for (int i = 0; i < 200 && office.Running(); ++i) std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(office.Running()) << "the office did not end on Quit";
  attached.reset();

  // An office that stops answering is cut off after the call timeout.
  office.EnsureRunning();
  options.Headless = true;
  options.CallTimeout = 1000ms;
  CalcApplication app(options);
  const pid_t group = static_cast<pid_t>(office.ProcessId());
  ::kill(-group, SIGSTOP);
  const auto start = std::chrono::steady_clock::now();
  ExpectLinkError(kApplicationGone, [&] { app.WorkbookCount(); }, {"did not answer"});
  const auto waited = std::chrono::steady_clock::now() - start;
  ::kill(-group, SIGCONT);
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 5000ms);
  office.Kill();  // a fresh one for the next test
}

TEST_F(CalcLink, ViaCalcTheExampleInThreeFormatsGivesTheEmbeddedBackendsNumbersAndColours) {
  const fs::path example = fs::path(TERSOLV_EXAMPLE_DIR) / "Example.xlsx";
  const std::string embedded = (folder_ / "embedded.xlsx").string();
  fs::copy_file(example, embedded);
  fs::copy_file(example, folder_ / "book.xlsx");
  TestOffice::ConvertWorkbook(*app_, example.string(), (folder_ / "book.ods").string());
  TestOffice::ConvertWorkbook(*app_, example.string(), (folder_ / "book.xls").string());
  std::string output;
  ASSERT_EQ(Tersolv("", embedded, output), 0) << output;
  app_->OpenWorkbook(embedded, true);
  const std::vector<std::string> sheets = app_->SheetNames();

  int numbers = 0, colours = 0;
  for (const char* name : {"book.xlsx", "book.ods", "book.xls"}) {
    const std::string path = (folder_ / name).string();
    ASSERT_EQ(Tersolv("--via-calc", path, output), 0) << name << ": " << output;
    EXPECT_NE(output.find("Results written to"), std::string::npos) << output;
    app_->OpenWorkbook(path, true);
    for (const std::string& sheet : sheets) {
      const auto expected = TestOffice::CellContents(*app_, embedded, sheet, 1, 60, 12);
      const auto actual = TestOffice::CellContents(*app_, path, sheet, 1, 60, 12);
      for (int row = 1; row <= 60; ++row) {
        for (int column = 1; column <= 12; ++column) {
          SCOPED_TRACE(std::string(name) + " " + sheet + " row " + std::to_string(row) + " column " +
                       std::to_string(column));
          const auto& e = expected[std::size_t(row - 1)][std::size_t(column - 1)];
          const auto& a = actual[std::size_t(row - 1)][std::size_t(column - 1)];
          if (e.index() == 1 && a.index() == 1) {
            EXPECT_LE(std::fabs(std::get<1>(e) - std::get<1>(a)), 1e-14 * std::fabs(std::get<1>(e)));  // 15 digits
            ++numbers;
          } else {
            EXPECT_EQ(a, e);
          }
          // Marks colour a row's results alike.
          if (row >= 4 && (column == 5 || column == 12) && expected[std::size_t(row - 1)][0].index() != 0) {
            const Rgb colour = TestOffice::FontColor(*app_, path, sheet, row, column);
            EXPECT_EQ(colour, TestOffice::FontColor(*app_, embedded, sheet, row, column));
            colours += colour != 0;
          }
        }
      }
    }
    app_->CloseActiveWorkbook();
  }
  EXPECT_GT(numbers, 100);
  EXPECT_GT(colours, 0) << "the example marks no row by colour";
}

}  // namespace
}  // namespace tersolv::link::uno
