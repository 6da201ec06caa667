// The shell's flows with the in-memory spreadsheet and a scripted user:
// start-up, the data-file commands, activation handling and calculating.
#include "shell/shell.h"

#include <gtest/gtest.h>

#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

using link::MessageIcon;
using link::memory::MemoryApplication;
using testing::AddTernarySheet;
using Dirs = testing::ScratchFolders;

const std::vector<std::array<double, 4>> kPoints = {{25, 1, 0.1, 0.5}, {100, 10, 0.2, 1.0}};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& f : {dirs.Program + "Tersolv.xlsx", dirs.Data + "run1.xlsx", dirs.Other + "run1.xlsx"}) {
      Dirs::Write(f, "x");
    }
  }
  void Start(const std::string& commandLine = "") {
    Environment env;
    env.ProgramFolder = dirs.Program.substr(0, dirs.Program.size() - 1);  // "/" is appended
    env.HomeFolder = dirs.Home;
    env.CommandLine = commandLine;
    env.StartApplication = [this]() -> std::unique_ptr<link::Application> {
      if (failStart) throw link::LinkError(link::kApplicationGone, "no office answers");
      auto a = std::make_unique<MemoryApplication>('.');
      a->AddFile(dirs.Program + "Tersolv.xlsx", [](MemoryApplication& m) { AddTernarySheet(m, {{25, 0.1, 0, 0}}); });
      a->AddFile(dirs.Data + "run1.xlsx", [](MemoryApplication& m) { AddTernarySheet(m, kPoints); });
      a->AddFile(dirs.Other + "run1.xlsx", [](MemoryApplication& m) { AddTernarySheet(m, {{50, 2, 0, 0}}); });
      app = a.get();
      return a;
    };
    shell = std::make_unique<Shell>(window, prompter, env);
    window.shell = shell.get();
    shell->Form_Load();
  }
  void Open(const std::optional<std::string>& answer) {
    prompter.answers.push_back(answer);
    shell->Button_Click(1);
  }
  // The user leaves for the spreadsheet, does `meanwhile` there and comes back.
  void LeaveAndReturn(const std::function<void()>& meanwhile = {}) {
    shell->MainWindowProc(-1);
    if (meanwhile) meanwhile();
    window.captions.clear();
    prompter.messages.clear();
    shell->MainWindowProc(1);
  }
  std::string Settings() const { return Dirs::Read(dirs.Program + "Tersolv.ini"); }

  Dirs dirs;
  testing::FakeWindow window;
  testing::ScriptedPrompter prompter;
  MemoryApplication* app = nullptr;
  bool failStart = false;
  std::unique_ptr<Shell> shell;
};

TEST_F(ShellTest, StartsCollapsedInTheHomeFolderAndSavesItAtTheEnd) {
  Start();
  ASSERT_FALSE(shell->Ended);
  EXPECT_EQ(shell->WorkFolder, dirs.Home);
  EXPECT_EQ(std::filesystem::current_path().string() + "/", dirs.Home);
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_FALSE(window.separator);
  EXPECT_TRUE(window.topmost && window.shown && window.enabled[0] && app->Visible());
  EXPECT_EQ(window.credit, "Tersolv release 0.5");
  EXPECT_FALSE(shell->ExtendedRange);
  shell->Unload();
  EXPECT_TRUE(window.closed);
  EXPECT_EQ(Settings(), "WorkDir=" + dirs.Home + "\n");
}

TEST_F(ShellTest, SettingsFileCases) {
  Dirs::Write(dirs.Data + "a.txt", "x");
  std::filesystem::create_directories(dirs.Home + "empty");
  const std::pair<std::string, std::string> cases[] = {
      {"WorkDir=  " + dirs.Data + "  \r\nWorkDir=/x/\n", dirs.Data},
      {"", dirs.Home},
      {"workdir=" + dirs.Data + "\n", dirs.Home},       // key in lower case
      {"WorkDir=" + dirs.Home + "none/\n", dirs.Home},  // no such folder
      {"WorkDir=" + dirs.Home + "empty/\n", dirs.Home}, // no ordinary file in it
      {"WorkDir=" + dirs.Home + "data\n", dirs.Home},   // no trailing "/"
  };
  for (const auto& [text, folder] : cases) {
    Dirs::Write(dirs.Program + "Tersolv.ini", text);
    Start("-x /IE");
    EXPECT_EQ(shell->WorkFolder, folder) << text;
    EXPECT_TRUE(shell->ExtendedRange);
    shell->Unload();
  }
}

TEST_F(ShellTest, WorkingInTheProgramFolderEndsTheProgram) {
  Dirs::Write(dirs.Program + "Tersolv.ini", "WorkDir=" + dirs.Program + "\n");
  Start();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0], std::make_pair(MessageIcon::Warning, std::string("Do not work in the home folder!  ")));
  EXPECT_TRUE(shell->Ended && window.closed && !window.shown);
  EXPECT_EQ(shell->ExitCode, 1);
  EXPECT_EQ(Settings(), "WorkDir=\n");
}

TEST_F(ShellTest, NoSpreadsheetEndsTheProgramAndKeepsTheSettings) {
  Dirs::Write(dirs.Program + "Tersolv.ini", "WorkDir=/kept/\n");
  failStart = true;
  Start();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0], std::make_pair(MessageIcon::Error, std::string("Could not run LibreOffice Calc")));
  EXPECT_TRUE(shell->Ended && window.closed);
  EXPECT_EQ(shell->ErrorCode, 1);
  EXPECT_EQ(shell->StartError, "no office answers");
  EXPECT_EQ(Settings(), "WorkDir=/kept/\n");
}

TEST_F(ShellTest, OpenCancelledChosenAndReopened) {
  std::filesystem::remove(dirs.Program + "Tersolv.xlsx");
  Start();
  EXPECT_FALSE(window.enabled[0]);  // no template
  Open(std::nullopt);
  EXPECT_EQ(prompter.requests[0].InitialFolder + "/", dirs.Home);
  EXPECT_EQ(prompter.requests[0].FileName, "");
  EXPECT_EQ(prompter.processed, 1);
  EXPECT_EQ(window.caption, "Tersolv");
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_FALSE(window.Read());

  Open(dirs.Data + "run1.xlsx");
  EXPECT_EQ(shell->WorkFolder, dirs.Data);
  EXPECT_EQ(shell->WorkbookName, "run1.xlsx");
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
  EXPECT_EQ(window.height, kDesignHeight);
  EXPECT_TRUE(window.separator);
  EXPECT_TRUE(prompter.Shown("Number of points:  2"));

  // The next dialog starts there with that name; a cancel reads it afresh.
  window.captions.clear();
  Open(std::nullopt);
  EXPECT_EQ(prompter.requests[2].InitialFolder + "/", dirs.Data);
  EXPECT_EQ(prompter.requests[2].FileName, "run1.xlsx");
  EXPECT_TRUE(window.Read());
  EXPECT_EQ(app->WorkbookCount(), 1);
  LeaveAndReturn();
  EXPECT_FALSE(window.enabled[0]);
}

TEST_F(ShellTest, ChoosingInTheProgramFolderAsksAgainFromTheHomeFolder) {
  Start();
  prompter.answers.push_back(dirs.Program + "Tersolv.xlsx");
  Open(std::nullopt);
  EXPECT_TRUE(prompter.Shown("Do not work in the home folder!  "));
  ASSERT_EQ(prompter.requests.size(), 2u);
  EXPECT_EQ(prompter.requests[1].InitialFolder + "/", dirs.Home);
  EXPECT_EQ(prompter.requests[1].FileName, "");
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_EQ(app->WorkbookCount(), 0);
}

TEST_F(ShellTest, AnOpenWorkbookIsMatchedByItsFullPath) {
  Start();
  Open(dirs.Other + "run1.xlsx");
  Open(dirs.Data + "run1.xlsx");  // same name, other folder: opened beside it
  ASSERT_EQ(app->WorkbookCount(), 2);
  EXPECT_EQ(shell->Reader->Points.PointCount, 2);
  Open(dirs.Other + "run1.xlsx");  // open already: activated
  EXPECT_EQ(app->WorkbookCount(), 2);
  EXPECT_EQ(shell->Reader->Points.PointCount, 1);
}

TEST_F(ShellTest, FilesThatGiveNoWorksheet) {
  Start();
  app->AddFile(dirs.Data + "chart.xlsx", [](MemoryApplication& m) {
    m.AddSheet("Chart", false);
    AddTernarySheet(m, kPoints);
  });
  app->AddFile(dirs.Data + "charts.xlsx", [](MemoryApplication& m) { m.AddSheet("Chart", false); });
  Open(dirs.Data + "chart.xlsx");  // the first worksheet stands in for a chart
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
  for (const char* name : {"charts.xlsx", "unknown.xlsx"}) {
    prompter.messages.clear();
    Open(dirs.Data + name);
    ASSERT_EQ(prompter.messages.size(), 1u) << name;
    EXPECT_EQ(prompter.messages[0].second.rfind("Could not open the file", 0), 0u);
    EXPECT_EQ(window.height, kCollapsedHeight);
    EXPECT_EQ(window.caption, "Tersolv");
    EXPECT_EQ(shell->WorkbookName + shell->SheetName, "");
  }
  EXPECT_FALSE(shell->Ended);
}

TEST_F(ShellTest, CreateOpensTheTemplateAndTheWatchEnablesItAgain) {
  Start();
  shell->Button_Click(0);
  EXPECT_EQ(app->WorkbookFullName(1), dirs.Program + "Tersolv.xlsx");
  EXPECT_FALSE(window.enabled[0]);
  EXPECT_TRUE(prompter.Shown("Number of points:  1"));
  LeaveAndReturn();  // still open
  EXPECT_FALSE(window.enabled[0]);
  LeaveAndReturn([&] {  // another workbook comes, the template goes
    app->AddWorkbook("new.xlsx", dirs.Data + "new.xlsx");
    AddTernarySheet(*app, kPoints);
    app->CloseWorkbook(1);
  });
  EXPECT_TRUE(window.enabled[0]);
  EXPECT_TRUE(window.Read());
  EXPECT_EQ(shell->WorkbookName, "new.xlsx");
}

TEST_F(ShellTest, ReturningReadsOnlyWhatChanged) {
  Start();
  Open(dirs.Data + "run1.xlsx");
  auto sheet = app->Sheet("Ternary system");
  LeaveAndReturn();
  EXPECT_FALSE(window.Read());
  EXPECT_FALSE(app->EventsEnabled());

  sheet->UserEdit(5, 3, "0.3");  // while the panel is in front: not a change
  LeaveAndReturn();
  EXPECT_FALSE(window.Read());

  LeaveAndReturn([&] { sheet->UserEdit(5, 3, "0.3"); });
  EXPECT_TRUE(window.Read());
  EXPECT_TRUE(prompter.messages.empty());  // same count: no message
  EXPECT_DOUBLE_EQ(shell->Reader->Points.PointMH2S[2], 0.3);

  LeaveAndReturn([&] {
    app->AddSheet("Notes");
    app->ActivateSheet("Notes");
  });
  EXPECT_TRUE(prompter.Shown("Row=0, Col=0: Unrecognized worksheet"));
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_EQ(window.caption, "Tersolv");

  LeaveAndReturn([&] {
    app->AddWorkbook("more.xlsx", dirs.Data + "more.xlsx");
    AddTernarySheet(*app, {{30, 1, 0, 0}, {40, 1, 0, 0}, {50, 1, 0, 0}});
  });
  EXPECT_TRUE(prompter.Shown("Number of points:  3"));
  EXPECT_EQ(shell->WorkbookName, "more.xlsx");
}

TEST_F(ShellTest, ClosingEveryWorkbookEndsTheProgram) {
  Start();
  Open(dirs.Data + "run1.xlsx");
  LeaveAndReturn([&] { app->CloseWorkbook(1); });
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0],
            std::make_pair(MessageIcon::Warning, std::string("Tersolv closed: could not find an open worksheet ")));
  EXPECT_TRUE(shell->Ended && window.closed);
  EXPECT_EQ(Settings(), "WorkDir=" + dirs.Data + "\n");
  shell->MainWindowProc(1);  // late events do nothing
  shell->Button_Click(1);
  EXPECT_EQ(prompter.requests.size(), 1u);
}

TEST_F(ShellTest, ClicksAndActivationsAreDroppedWhileBusy) {
  Start();
  Open(dirs.Data + "run1.xlsx");
  int shown = 0;
  prompter.onMessage = [&] {  // the reader's message box, inside the handler
    if (shown++ > 0) return;
    EXPECT_TRUE(shell->Busy);
    shell->Button_Click(1);
    shell->MainWindowProc(1);
  };
  LeaveAndReturn([&] {
    app->AddWorkbook("more.xlsx", dirs.Data + "more.xlsx");
    AddTernarySheet(*app, {{30, 1, 0, 0}});
  });
  EXPECT_EQ(prompter.requests.size(), 1u);
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(shell->Busy);
}

TEST_F(ShellTest, CalculateAndARunTimeErrorOnTheWay) {
  Start();
  Open(dirs.Data + "run1.xlsx");
  window.captions.clear();
  shell->Events->xlChanged = true;
  shell->Button_Click(2);
  EXPECT_EQ(window.captions.front(), "Calculating...");
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
  EXPECT_FALSE(shell->Events->xlChanged);
  for (int column = 5; column <= 12; ++column) {
    EXPECT_TRUE(std::holds_alternative<double>(app->Sheet("Ternary system")->Value(5, column))) << column;
  }

  prompter.messages.clear();
  app->SimulateGone();
  shell->Button_Click(2);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].first, MessageIcon::Error);
  EXPECT_FALSE(shell->Ended);
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
}

TEST(Class1Test, RaisesEventsAndSwitchesDeliveryOnlyWithASheet) {
  MemoryApplication app('.');
  app.AddWorkbook("a.xlsx");
  std::int16_t errorCode = 5;
  Class1 bridge([&] { return &app; }, errorCode);
  int activated = 0, deactivated = 0;
  bridge.Activated = [&] { ++activated; };
  bridge.Deactivated = [&] { ++deactivated; };
  for (std::int16_t state : {0, 1, -1}) bridge.RaiseEvents(state);
  EXPECT_EQ(activated * 10 + deactivated, 11);
  app.SetEventsEnabled(false);
  bridge.xlEvents(true);  // no sheet yet: nothing, not even an error
  EXPECT_FALSE(app.EventsEnabled());
  EXPECT_EQ(errorCode, 5);
  bridge.SetSheet(app.AddSheet("Components"));
  app.SimulateGone();
  bridge.xlEvents(true);
  EXPECT_EQ(errorCode, -1);
}

}  // namespace
}  // namespace tersolv::shell
