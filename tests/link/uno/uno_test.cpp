// What the Calc link does beyond the contract: queued user edits, formula cells, lock files, starting an
// office, an office killed or hanging in the middle of a calculation; and `tersolv calc --via-calc`.
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
#include <thread>

#include "calc/driver.h"
#include "fakes/recording_frontend.h"
#include "input/reader.h"
#include "link/uno/calc_application.h"
#include "office_test.h"
#include "water/water.h"

namespace tersolv::link::uno {
namespace {

namespace fs = std::filesystem;
using testing::FileBytes;
using testing::TestOffice;
using Clock = std::chrono::steady_clock;
using namespace std::string_literals;

void ExpectLinkError(int number, const std::function<void()>& call, std::initializer_list<const char*> parts = {}) {
  try {
    call();
    ADD_FAILURE() << "no LinkError";
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Number(), number) << e.what();
    for (const char* part : parts) EXPECT_NE(e.Description().find(part), std::string::npos) << e.what();
  }
}

// Runs `tersolv calc` on `book`; returns its exit code, and what it printed in `output`.
int Tersolv(const std::string& options, const fs::path& book, std::string& output) {
  const std::string out = ::testing::TempDir() + "tersolv-output-" + std::to_string(::getpid()) + ".txt";
  const int status = std::system(
      ("'" TERSOLV_EXECUTABLE "' calc " + options + " '" + book.string() + "' > '" + out + "' 2>&1").c_str());
  output = FileBytes(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ParseNumber(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size();
}

class CalcLink : public testing::OfficeTest {
 protected:

  // A "Ternary system" sheet with `points` rows of input (and a "Notes" sheet), opened read-write.
  std::string OpenTernary(const std::string& stem, int points) {
    testing::Sheet sheet{"Ternary system", {{1, 1, "Tersolv"s}, {2, 1, "System definitions"s}}};
    const char* headers[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
    for (int c = 0; c < 4; ++c) sheet.Cells.emplace_back(3, c + 1, std::string(headers[c]));
    for (int i = 0; i < points; ++i) {
      const double row[] = {25.0 + i % 200, 10.0 + i % 7, 0.1 * (i % 5), 0.5 * (i % 9)};
      for (int c = 0; c < 4; ++c) sheet.Cells.emplace_back(4 + i, c + 1, row[c]);
    }
    const std::string path = (folder_ / (stem + ".ods")).string();
    TestOffice::WriteWorkbook(*app_, path, {sheet, {"Notes", {}}});
    app_->OpenWorkbook(path, false);
    return path;
  }

};

TEST_F(CalcLink, UserEditsOfTheDataSheetAreQueuedUntilAskedForAndOwnWritesNeverCount) {
  const std::string path = OpenTernary("Events", 3);
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
  EXPECT_EQ(seen[0].FirstRow, 5);
  EXPECT_EQ(seen[0].FirstColumn, 3);
  EXPECT_EQ(sheet->CellText(5, 3), "0.25");  // a formula reads as its result

  TestOffice::UserEdit(*app_, path, "Ternary system", 6, 3, "=1/0");
  app_->SetEventsEnabled(false);  // hands over what came while delivery was on
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(sheet->CellText(6, 3), "#DIV/0!");
}

TEST_F(CalcLink, TheLinkOutlivesQuitWithUnsavedWorkAClosedWorkbookAndASecondConnection) {
  OpenTernary("Unsaved", 1);
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
  TestOffice::WriteWorkbook(*app_, path, {{"Components", {{1, 1, "x"s}}}});
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

TEST_F(CalcLink, AnOfficeKilledDuringACalculationEndsItWithAClearErrorAndAnIntactFile) {
  const std::string path = OpenTernary("Killed", 400);
  const std::string before = FileBytes(path);
  auto sheet = app_->ActiveSheet();
  fakes::RecordingFrontend frontend;
  water::WaterModel water;
  input::WorksheetReader reader(*app_, frontend, water, '.');
  ASSERT_EQ(reader.ReadWorksheet(sheet, false), 0) << frontend.LastMessage();

  calc::DriverOptions options;
  options.Threads = 1;
  options.Progress = [](int done, int total) {
    if (done > 0 && done < total) TestOffice::Shared().Kill();  // after the first block of results
  };
  const auto start = Clock::now();
  ExpectLinkError(kApplicationGone, [&] { calc::CalculateValues(reader, *sheet, frontend, options); },
                  {"LibreOffice Calc"});
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  ExpectLinkError(kApplicationGone, [&] { app_->SetEventsEnabled(true); });
  EXPECT_EQ(FileBytes(path), before);  // nothing was saved half-way
}

TEST_F(CalcLink, AnOfficeThatHangsIsCutOffAfterTheCallTimeout) {
  app_.reset();
  CalcOptions options;
  options.PipeName = TestOffice::Shared().Pipe();
  options.Start = false;
  options.Headless = true;
  options.CallTimeout = std::chrono::milliseconds(1000);
  CalcApplication app(options);
  const pid_t group = static_cast<pid_t>(TestOffice::Shared().ProcessId());
  ::kill(-group, SIGSTOP);
  const auto start = Clock::now();
  ExpectLinkError(kApplicationGone, [&] { app.WorkbookCount(); }, {"did not answer"});
  const auto waited = Clock::now() - start;
  ::kill(-group, SIGCONT);
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::milliseconds(5000));
  TestOffice::Shared().Kill();  // a fresh one for the next test
}

TEST(CalcStart, StartsAnOfficeWhenNoneAnswersAttachesToItAndQuitEndsIt) {
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
  for (int i = 0; i < 200 && office.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(office.Running()) << "the office did not end on Quit";
}

TEST_F(CalcLink, ViaCalcTheExampleInThreeFormatsGivesTheEmbeddedBackendsNumbersAndColours) {
  const fs::path example = fs::path(TERSOLV_EXAMPLE_DIR) / "Example.xlsx", embedded = folder_ / "embedded.xlsx";
  fs::copy_file(example, embedded);
  fs::copy_file(example, folder_ / "book.xlsx");
  TestOffice::ConvertWorkbook(*app_, example.string(), (folder_ / "book.ods").string());
  TestOffice::ConvertWorkbook(*app_, example.string(), (folder_ / "book.xls").string());
  std::string output;
  ASSERT_EQ(Tersolv("", embedded, output), 0) << output;
  for (const char* name : {"book.xlsx", "book.ods", "book.xls"}) {
    ASSERT_EQ(Tersolv("--via-calc", folder_ / name, output), 0) << name << ": " << output;
    EXPECT_NE(output.find("Results written to"), std::string::npos) << output;
  }

  app_->OpenWorkbook(embedded.string(), true);
  int numbers = 0, colours = 0;
  for (const char* name : {"book.xlsx", "book.ods", "book.xls"}) {
    const std::string path = (folder_ / name).string();
    app_->OpenWorkbook(path, true);
    for (const std::string& sheetName : app_->SheetNames()) {
      SCOPED_TRACE(std::string(name) + " " + sheetName);
      app_->ActivateWorkbook(1);
      app_->ActivateSheet(sheetName);
      auto expected = app_->ActiveSheet();
      app_->ActivateWorkbook(2);
      app_->ActivateSheet(sheetName);
      auto actual = app_->ActiveSheet();
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
            const long c = TestOffice::FontColor(*app_, path, sheetName, row, column);
            EXPECT_EQ(c, TestOffice::FontColor(*app_, embedded.string(), sheetName, row, column));
            colours += c != 0;
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
