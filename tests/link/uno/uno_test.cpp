// What the Calc link does beyond the contract: queued user edits, formula cells, lock files, starting an
// office, and an office that is killed or hangs in the middle of a calculation.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "calc/driver.h"
#include "fakes/recording_frontend.h"
#include "input/reader.h"
#include "link/uno/calc_application.h"
#include "office_fixture.h"
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

class CalcLink : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = testing::OfficeMissing(); !missing.empty()) GTEST_SKIP() << missing;
    folder_ = fs::path(::testing::TempDir()) / ("tersolv-calc-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    TestOffice::Shared().EnsureRunning();
    app_ = TestOffice::Shared().Attach();
    TestOffice::CloseAllDocuments(*app_);
  }
  void TearDown() override {
    app_.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // A "Ternary system" sheet with `points` rows of input (and a "Notes" sheet), opened read-write.
  std::string OpenTernary(const std::string& stem, int points) {
    testing::Sheet sheet{"Ternary system",
                         {{1, 1, "Tersolv"s},
                          {2, 1, "System definitions"s},
                          {3, 1, "T, C"s},
                          {3, 2, "P, MPa"s},
                          {3, 3, "m(H2S)"s},
                          {3, 4, "m(NaCl)"s}}};
    for (int i = 0; i < points; ++i) {
      sheet.Cells.push_back({4 + i, 1, 25.0 + (i % 200)});
      sheet.Cells.push_back({4 + i, 2, 10.0 + (i % 7)});
      sheet.Cells.push_back({4 + i, 3, 0.1 * (i % 5)});
      sheet.Cells.push_back({4 + i, 4, 0.5 * (i % 9)});
    }
    const std::string path = (folder_ / (stem + ".ods")).string();
    TestOffice::WriteWorkbook(*app_, path, {sheet, {"Notes", {}}});
    app_->OpenWorkbook(path, false);
    return path;
  }

  fs::path folder_;
  std::unique_ptr<CalcApplication> app_;
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
  const double row[] = {1, 2, 3};
  sheet->WriteNumbers(5, 5, row);
  sheet->ClearContents(5, 5, 7);
  sheet->SetFontColor(4, 5, 12, RgbColor(255, 0, 0));
  TestOffice::UserEdit(*app_, path, "Notes", 4, 1, "12");  // not the data sheet
  EXPECT_EQ(app_->ProcessEvents(), 0);
  EXPECT_EQ(wakeups, 0);

  TestOffice::UserEdit(*app_, path, "Ternary system", 5, 3, "0.25");
  EXPECT_TRUE(seen.empty());  // queued on the office's thread until asked for
  EXPECT_EQ(wakeups, 1);
  EXPECT_EQ(app_->ProcessEvents(), 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].FirstRow, 5);
  EXPECT_EQ(seen[0].FirstColumn, 3);

  TestOffice::UserEdit(*app_, path, "Ternary system", 6, 3, "0.5");
  app_->SetEventsEnabled(false);  // hands over what came while delivery was on
  EXPECT_EQ(seen.size(), 2u);
  TestOffice::UserEdit(*app_, path, "Ternary system", 6, 4, "1");
  EXPECT_EQ(app_->ProcessEvents(), 0);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(CalcLink, FormulaCellsReadAsTheirResultsAndNoNonFiniteValueReachesACell) {
  const std::string path = OpenTernary("Formulas", 0);
  auto sheet = app_->ActiveSheet();
  TestOffice::UserEdit(*app_, path, "Ternary system", 4, 1, "=1/4");
  TestOffice::UserEdit(*app_, path, "Ternary system", 4, 2, "=\"sat\"");
  TestOffice::UserEdit(*app_, path, "Ternary system", 4, 3, "=1/0");
  EXPECT_EQ(sheet->CellText(4, 1), "0.25");
  EXPECT_EQ(sheet->CellText(4, 2), "sat");
  EXPECT_EQ(sheet->CellText(4, 3), "#DIV/0!");
  sheet->WriteText(5, 1, "=1+1");  // written as text, not as a formula
  EXPECT_EQ(sheet->CellText(5, 1), "=1+1");

  const double row[] = {0.1, std::numeric_limits<double>::infinity()};
  ExpectLinkError(kBadArgument, [&] { sheet->WriteNumbers(6, 1, row); });
  EXPECT_EQ(sheet->CellText(6, 1), "");  // nothing of the row written
  ExpectLinkError(kBadArgument, [&] { sheet->WriteNumber(6, 1, std::nan("")); });
}

TEST_F(CalcLink, QuitLeavesTheOfficeRunningWhileAWorkbookHasUnsavedChanges) {
  OpenTernary("Unsaved", 1);
  app_->ActiveSheet()->WriteNumber(4, 5, 1.0);
  app_->Quit();
  EXPECT_EQ(app_->WorkbookCount(), 1);
  EXPECT_EQ(app_->ActiveSheet()->CellText(4, 5), "1");
}

TEST_F(CalcLink, ASheetOfAClosedWorkbookFailsWithoutEndingTheLink) {
  OpenTernary("Closed", 1);
  auto sheet = app_->ActiveSheet();
  sheet->SetChangeHandler([](const CellRange&) {});
  app_->CloseActiveWorkbook();
  ExpectLinkError(kNoWorkbook, [&] { sheet->CellText(4, 1); });
  ExpectLinkError(kNoWorkbook, [&] { sheet->WriteNumber(4, 5, 1.0); });
  EXPECT_EQ(app_->WorkbookCount(), 0);
  OpenTernary("Again", 1);
  EXPECT_EQ(app_->ActiveSheet()->CellText(4, 1), "25");
}

TEST_F(CalcLink, ASecondConnectionOfOneProgramIsRefusedAndTheFirstKeepsWorking) {
  OpenTernary("First", 1);
  ExpectLinkError(kApplicationGone, [&] { TestOffice::Shared().Attach(); }, {"already"});
  EXPECT_EQ(app_->ActiveSheet()->CellText(4, 1), "25");
}

TEST_F(CalcLink, AReadWriteOpenOfALockedFileIsRefusedAndReadOnlyWorks) {
  const std::string path = (folder_ / "Locked.ods").string();
  TestOffice::WriteWorkbook(*app_, path, {{"Components", {{1, 1, "x"s}}}});
  std::ofstream(folder_ / ".~lock.Locked.ods#")
      << "Another User,otherhost,otherhost,06.12.2026 21:00,file:///home/another/.config/libreoffice/4;";
  const std::string before = FileBytes(path);
  ExpectLinkError(kFileError, [&] { app_->OpenWorkbook(path, false); }, {"locked", "Another User"});
  EXPECT_EQ(app_->WorkbookCount(), 0);
  app_->OpenWorkbook(path, true);
  EXPECT_EQ(app_->ActiveSheet()->CellText(1, 1), "x");
  ExpectLinkError(kFileError, [&] { app_->SaveActiveWorkbook(); }, {"read-only"});
  EXPECT_EQ(FileBytes(path), before);
}

TEST_F(CalcLink, MissingFilesFoldersAndFilesThatAreNoWorkbooksAreRefused) {
  std::ofstream(folder_ / "notes.txt") << "hello\n";
  for (const fs::path& path : {folder_ / "none.xlsx", folder_, folder_ / "notes.txt"}) {
    SCOPED_TRACE(path);
    ExpectLinkError(kFileError, [&] { app_->OpenWorkbook(path.string(), true); });
  }
  EXPECT_EQ(app_->WorkbookCount(), 0);
}

TEST_F(CalcLink, AnOfficeKilledDuringACalculationEndsItWithAClearErrorAndAnIntactFile) {
  const std::string path = OpenTernary("Killed", 400);
  const std::string before = FileBytes(path);
  auto sheet = app_->ActiveSheet();
  fakes::RecordingFrontend frontend;
  water::WaterModel water;
  input::WorksheetReader reader(*app_, frontend, water, '.');
  ASSERT_EQ(reader.ReadWorksheet(sheet, false), 0) << frontend.LastMessage();
  ASSERT_EQ(reader.Points.PointCount, 400);

  std::atomic<int> done{0};
  calc::DriverOptions options;
  options.Threads = 1;
  options.Progress = [&](int d, int) { done = d; };
  std::thread killer([&] {
    const auto limit = Clock::now() + std::chrono::seconds(30);
    while (done < 20 && Clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    TestOffice::Shared().Kill();
  });
  const auto start = Clock::now();
  ExpectLinkError(kApplicationGone, [&] { calc::CalculateValues(reader, *sheet, frontend, options); },
                  {"LibreOffice Calc"});
  killer.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(40));
  ExpectLinkError(kApplicationGone, [&] { app_->WorkbookCount(); });
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
  EXPECT_EQ(app.WorkbookCount(), 0);
  const pid_t group = static_cast<pid_t>(TestOffice::Shared().ProcessId());
  ::kill(-group, SIGSTOP);
  const auto start = Clock::now();
  ExpectLinkError(kApplicationGone, [&] { app.WorkbookCount(); }, {"did not answer"});
  const auto waited = Clock::now() - start;
  ::kill(-group, SIGCONT);
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::milliseconds(5000));
  ExpectLinkError(kApplicationGone, [&] { app.ActiveWorkbookName(); });
  TestOffice::Shared().Kill();  // a fresh one for the next test
}

TEST(CalcStart, StartsAnOfficeWhenNoneAnswersAttachesToItAndQuits) {
  if (const std::string missing = testing::OfficeMissing(); !missing.empty()) GTEST_SKIP() << missing;
  const fs::path folder = fs::path(::testing::TempDir()) / ("tersolv-start-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  CalcOptions options;
  options.PipeName = "bad;name";
  ExpectLinkError(kBadArgument, [&] { CalcApplication app(options); });
  options.PipeName = "tersolv_start_" + std::to_string(::getpid());
  options.Headless = true;
  options.ProfileFolder = (folder / "profile").string();
  options.StartTimeout = std::chrono::seconds(60);
  options.Start = false;
  ExpectLinkError(kApplicationGone, [&] { CalcApplication app(options); }, {"tersolv_start_"});

  options.Start = true;
  long pid = 0;
  {
    CalcApplication started(options);
    pid = started.StartedProcessId();
    EXPECT_GT(pid, 0);
  }
  EXPECT_TRUE(fs::exists(folder / "profile" / "user" / "registrymodifications.xcu"));
  {
    CalcApplication attached(options);  // the office outlived the first application
    EXPECT_EQ(attached.StartedProcessId(), 0);
    attached.Quit();
    EXPECT_THROW(attached.WorkbookCount(), LinkError);
  }
  bool ended = false;
  for (int i = 0; i < 200 && !ended; ++i) {  // at most 10 s
    ended = ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == pid;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(ended) << "the office did not end on Quit";
  ::kill(-static_cast<pid_t>(pid), SIGKILL);  // whatever is left of its process group
  if (!ended) ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(CalcStart, ThePipeNameComesFromTheEnvironmentOrDefaults) {
  ::unsetenv("TERSOLV_PIPE");
  EXPECT_EQ(DefaultPipeName(), "tersolv");
  ::setenv("TERSOLV_PIPE", "mine", 1);
  EXPECT_EQ(DefaultPipeName(), "mine");
  ::unsetenv("TERSOLV_PIPE");
}

}  // namespace
}  // namespace tersolv::link::uno
