// The shell's flows with the in-memory spreadsheet and a scripted user:
// start-up, the data-file commands, the event bridge, activation handling
// and "&Calculate values".
#include "shell/shell.h"

#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "link/memory/memory.h"
#include "shell/class1.h"
#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

using link::memory::MemoryApplication;
using link::memory::MemorySheet;
using testing::AddTernarySheet;
using testing::FakeWindow;
using testing::ScratchFolders;
using testing::ScriptedPrompter;

const std::vector<std::array<double, 4>> kPoints = {{25, 1, 0.1, 0.5}, {100, 10, 0.2, 1.0}};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScratchFolders::WriteFile(dirs.Program + "Tersolv.xlsx", "template");
    ScratchFolders::WriteFile(dirs.Data + "run1.xlsx", "data");
    ScratchFolders::WriteFile(dirs.Other + "run1.xlsx", "data");
  }

  void Start() {
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

  void Choose(const std::optional<std::string>& path) { prompter.answers.push_back(path); }
  void OpenRun1() {
    Choose(dirs.Data + "run1.xlsx");
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
  std::shared_ptr<MemorySheet> Sheet() { return app->Sheet("Ternary system"); }
  std::string Settings() const { return ScratchFolders::ReadFile(dirs.Program + "Tersolv.ini"); }
  void WriteSettings(const std::string& text) const { ScratchFolders::WriteFile(dirs.Program + "Tersolv.ini", text); }

  ScratchFolders dirs;
  FakeWindow window;
  ScriptedPrompter prompter;
  MemoryApplication* app = nullptr;
  bool failStart = false;
  std::string commandLine;
  std::unique_ptr<Shell> shell;
};

// ------------------------------------------------------------- start-up

TEST_F(ShellTest, StartsCollapsedInTheHomeFolderWithoutSettings) {
  Start();
  ASSERT_FALSE(shell->Ended);
  EXPECT_EQ(shell->ProgramFolder, dirs.Program);
  EXPECT_EQ(shell->WorkFolder, dirs.Home);
  EXPECT_EQ(std::filesystem::current_path().string() + "/", dirs.Home);
  EXPECT_EQ(shell->MaxSize, kDesignHeight);
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_FALSE(window.separator);
  EXPECT_TRUE(window.topmost);
  EXPECT_TRUE(window.shown);
  EXPECT_TRUE(window.enabled[0]);
  EXPECT_EQ(window.credit, "Tersolv release 0.5");
  EXPECT_TRUE(app->Visible());
  EXPECT_FALSE(shell->ExtendedRange);
  EXPECT_TRUE(prompter.messages.empty());

  shell->Unload();
  EXPECT_TRUE(window.closed);
  EXPECT_EQ(Settings(), "WorkDir=" + dirs.Home + "\n");
}

TEST_F(ShellTest, SettingsLineWithBlanksNamesTheWorkingFolder) {
  ScratchFolders::WriteFile(dirs.Data + "any.txt", "x");
  WriteSettings("WorkDir=  " + dirs.Data + "  \nWorkDir=/ignored/\n");
  Start();
  EXPECT_EQ(shell->WorkFolder, dirs.Data);
  EXPECT_EQ(std::filesystem::current_path().string() + "/", dirs.Data);
}

TEST_F(ShellTest, UnusableSettingsFallBackToTheHomeFolder) {
  std::filesystem::create_directories(dirs.Home + "empty");
  const std::vector<std::string> cases = {
      "",                                    // empty file
      "workdir=" + dirs.Data + "\n",         // key in lower case
      "WorkDir=" + dirs.Home + "missing/\n", // no such folder
      "WorkDir=" + dirs.Home + "empty/\n",   // no ordinary file in it
      "WorkDir=" + dirs.Home + "data\n",     // no trailing "/"
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    WriteSettings(text);
    Start();
    EXPECT_EQ(shell->WorkFolder, dirs.Home);
    shell->Unload();
  }
}

TEST_F(ShellTest, SettingsNamingTheProgramFolderEndTheProgram) {
  WriteSettings("WorkDir=" + dirs.Program + "\n");
  Start();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].icon, link::MessageIcon::Warning);
  EXPECT_EQ(prompter.messages[0].text, "Do not work in the home folder!  ");
  EXPECT_TRUE(shell->Ended);
  EXPECT_EQ(shell->ExitCode, 1);
  EXPECT_TRUE(window.closed);
  EXPECT_FALSE(window.shown);
  EXPECT_EQ(Settings(), "WorkDir=\n");
}

TEST_F(ShellTest, MissingTemplateDisablesCreate) {
  std::filesystem::remove(dirs.Program + "Tersolv.xlsx");
  Start();
  EXPECT_FALSE(shell->TemplateExists);
  EXPECT_FALSE(window.enabled[0]);
  LeaveAndReturn();  // the template watch leaves it disabled
  EXPECT_FALSE(window.enabled[0]);
}

TEST_F(ShellTest, NoSpreadsheetEndsTheProgramAndKeepsTheSettings) {
  WriteSettings("WorkDir=" + dirs.Data + "\n");
  failStart = true;
  Start();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].icon, link::MessageIcon::Error);
  EXPECT_EQ(prompter.messages[0].text, "Could not run LibreOffice Calc");
  EXPECT_EQ(shell->ErrorCode, 1);
  EXPECT_TRUE(shell->Ended);
  EXPECT_EQ(shell->ExitCode, 1);
  EXPECT_EQ(shell->StartError, "no office answers");
  EXPECT_TRUE(window.closed);
  EXPECT_EQ(Settings(), "WorkDir=" + dirs.Data + "\n");
}

TEST_F(ShellTest, CommandLineSwitchSetsTheExtendedRange) {
  commandLine = "-x /IE";
  Start();
  EXPECT_TRUE(shell->ExtendedRange);
}

// ------------------------------------------------------ data-file commands

TEST_F(ShellTest, CancelledFirstOpenCollapsesAndReadsNothing) {
  Start();
  Choose(std::nullopt);
  shell->Button_Click(1);
  ASSERT_EQ(prompter.requests.size(), 1u);
  const FileRequest& r = prompter.requests[0];
  EXPECT_EQ(r.Title, "Choose data file");
  EXPECT_EQ(r.FilterName, "Data files");
  EXPECT_EQ(r.Pattern, "*.xlsx *.xls *.ods");
  EXPECT_EQ(r.InitialFolder + "/", dirs.Home);
  EXPECT_EQ(r.FileName, "");
  EXPECT_EQ(prompter.processed, 1);
  EXPECT_EQ(window.caption, "Tersolv");
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_FALSE(window.Read());
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(app->WorkbookCount(), 0);
}

TEST_F(ShellTest, OpenReadsTheChosenFileAndRemembersIt) {
  Start();
  OpenRun1();
  EXPECT_EQ(shell->WorkFolder, dirs.Data);
  EXPECT_EQ(shell->WorkbookName, "run1.xlsx");
  EXPECT_EQ(shell->SheetName, "Ternary system");
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
  EXPECT_EQ(window.height, kDesignHeight);
  EXPECT_TRUE(window.separator);
  EXPECT_TRUE(prompter.Shown("Number of points:  2"));
  EXPECT_EQ(shell->Reader->Points.PointCount, 2);

  // The next dialog starts in the data folder with the file's name; a
  // cancel there reads the same workbook afresh.
  Choose(std::nullopt);
  window.captions.clear();
  shell->Button_Click(1);
  EXPECT_EQ(prompter.requests.back().InitialFolder + "/", dirs.Data);
  EXPECT_EQ(prompter.requests.back().FileName, "run1.xlsx");
  EXPECT_TRUE(window.Read());
  EXPECT_EQ(app->WorkbookCount(), 1);

  shell->Unload();
  EXPECT_EQ(Settings(), "WorkDir=" + dirs.Data + "\n");
}

TEST_F(ShellTest, ChoosingInTheProgramFolderAsksAgainFromTheHomeFolder) {
  Start();
  Choose(dirs.Program + "Tersolv.xlsx");
  Choose(std::nullopt);
  shell->Button_Click(1);
  EXPECT_TRUE(prompter.Shown("Do not work in the home folder!  "));
  ASSERT_EQ(prompter.requests.size(), 2u);
  EXPECT_EQ(prompter.requests[1].InitialFolder + "/", dirs.Home);
  EXPECT_EQ(prompter.requests[1].FileName, "");
  EXPECT_EQ(shell->WorkbookName, "");
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_EQ(app->WorkbookCount(), 0);
}

TEST_F(ShellTest, AnOpenWorkbookIsMatchedByItsFullPath) {
  Start();
  // The same file name from another folder is open: the chosen file is
  // opened beside it, not mistaken for it.
  Choose(dirs.Other + "run1.xlsx");
  shell->Button_Click(1);
  ASSERT_EQ(app->WorkbookCount(), 1);
  OpenRun1();
  ASSERT_EQ(app->WorkbookCount(), 2);
  EXPECT_EQ(shell->Reader->Points.PointCount, 2);

  // Choosing a file that is open already activates it.
  Choose(dirs.Other + "run1.xlsx");
  shell->Button_Click(1);
  EXPECT_EQ(app->WorkbookCount(), 2);
  EXPECT_EQ(app->WorkbookFullName(2), dirs.Data + "run1.xlsx");
  EXPECT_EQ(shell->Reader->Points.PointCount, 1);
  OpenRun1();
  EXPECT_EQ(app->WorkbookCount(), 2);
  EXPECT_EQ(shell->Reader->Points.PointCount, 2);
}

TEST_F(ShellTest, AFileThatCannotBeOpenedIsReported) {
  Start();
  ScratchFolders::WriteFile(dirs.Data + "broken.xlsx", "x");  // unknown to the application
  Choose(dirs.Data + "broken.xlsx");
  shell->Button_Click(1);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].icon, link::MessageIcon::Error);
  EXPECT_EQ(prompter.messages[0].text.rfind("Could not open the file", 0), 0u);
  EXPECT_EQ(shell->WorkbookName, "");
  EXPECT_EQ(window.caption, "Tersolv");
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_FALSE(shell->Ended);
}

TEST_F(ShellTest, ASheetThatIsNoWorksheetFallsBackToTheFirstWorksheet) {
  Start();
  app->AddFile(dirs.Data + "chart.xlsx", [](MemoryApplication& m) {
    m.AddSheet("Chart", false);
    AddTernarySheet(m, kPoints);
  });
  app->AddFile(dirs.Data + "charts.xlsx", [](MemoryApplication& m) { m.AddSheet("Chart", false); });
  Choose(dirs.Data + "chart.xlsx");
  shell->Button_Click(1);
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");

  Choose(dirs.Data + "charts.xlsx");
  shell->Button_Click(1);
  EXPECT_TRUE(prompter.Shown("Could not open the file"));
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_EQ(shell->WorkbookName, "");
  EXPECT_EQ(shell->SheetName, "");
}

TEST_F(ShellTest, CreateOpensTheTemplateAndTheWatchEnablesItAgain) {
  Start();
  shell->Button_Click(0);
  EXPECT_EQ(app->WorkbookFullName(1), dirs.Program + "Tersolv.xlsx");
  EXPECT_EQ(shell->WorkbookName, "Tersolv.xlsx");
  EXPECT_FALSE(window.enabled[0]);
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
  EXPECT_TRUE(prompter.Shown("Number of points:  1"));

  LeaveAndReturn();  // template still open
  EXPECT_FALSE(window.enabled[0]);

  // The user opens another workbook and closes the template.
  LeaveAndReturn([&] {
    app->AddWorkbook("new.xlsx", dirs.Data + "new.xlsx");
    AddTernarySheet(*app, kPoints);
    app->CloseWorkbook(1);
  });
  EXPECT_TRUE(window.enabled[0]);
  EXPECT_TRUE(window.Read());
  EXPECT_EQ(shell->WorkbookName, "new.xlsx");
}

// ------------------------------------------------------ activation handling

TEST_F(ShellTest, ReturningWithoutChangesReadsNothing) {
  Start();
  OpenRun1();
  LeaveAndReturn();
  EXPECT_FALSE(window.Read());
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_FALSE(app->EventsEnabled());
}

TEST_F(ShellTest, AnEditedCellIsReadAgainOnReturn) {
  Start();
  OpenRun1();
  LeaveAndReturn([&] {
    EXPECT_TRUE(app->EventsEnabled());
    Sheet()->UserEdit(5, 3, "0.3");
    EXPECT_TRUE(shell->Events->xlChanged);
  });
  EXPECT_TRUE(window.Read());
  EXPECT_TRUE(prompter.messages.empty());  // same point count: no message
  EXPECT_DOUBLE_EQ(shell->Reader->Points.PointMH2S[2], 0.3);
  EXPECT_FALSE(shell->Events->xlChanged);
}

TEST_F(ShellTest, EditsWhileThePanelIsInFrontAreNotChanges) {
  Start();
  OpenRun1();
  shell->MainWindowProc(1);
  Sheet()->UserEdit(5, 3, "0.3");
  EXPECT_FALSE(shell->Events->xlChanged);
  window.captions.clear();
  shell->MainWindowProc(1);
  EXPECT_FALSE(window.Read());
}

TEST_F(ShellTest, AnotherSheetIsReadOnReturn) {
  Start();
  OpenRun1();
  LeaveAndReturn([&] {
    app->AddSheet("Notes");
    app->ActivateSheet("Notes");
  });
  EXPECT_TRUE(window.Read());
  EXPECT_TRUE(prompter.Shown("Row=0, Col=0: Unrecognized worksheet"));
  EXPECT_EQ(window.height, kCollapsedHeight);
  EXPECT_EQ(window.caption, "Tersolv");
  EXPECT_EQ(shell->SheetName, "Notes");
}

TEST_F(ShellTest, AnotherWorkbookIsReadOnReturn) {
  Start();
  OpenRun1();
  LeaveAndReturn([&] {
    app->AddWorkbook("more.xlsx", dirs.Data + "more.xlsx");
    AddTernarySheet(*app, {{30, 1, 0, 0}, {40, 1, 0, 0}, {50, 1, 0, 0}});
  });
  EXPECT_TRUE(window.Read());
  EXPECT_TRUE(prompter.Shown("Number of points:  3"));
  EXPECT_EQ(shell->WorkbookName, "more.xlsx");
}

TEST_F(ShellTest, ClosingEveryWorkbookEndsTheProgram) {
  Start();
  OpenRun1();
  LeaveAndReturn([&] { app->CloseWorkbook(1); });
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].icon, link::MessageIcon::Warning);
  EXPECT_EQ(prompter.messages[0].text, "Tersolv closed: could not find an open worksheet ");
  EXPECT_TRUE(shell->Ended);
  EXPECT_TRUE(window.closed);
  EXPECT_EQ(shell->XlApp, nullptr);
  EXPECT_EQ(Settings(), "WorkDir=" + dirs.Data + "\n");
  shell->MainWindowProc(1);  // late events after the end do nothing
  shell->Button_Click(1);
  EXPECT_EQ(prompter.requests.size(), 1u);
}

TEST_F(ShellTest, ClicksAreDroppedWhileBusy) {
  Start();
  OpenRun1();
  // A click that arrives inside the activation handler (here while its
  // message box is up) is dropped, and so is a nested activation.
  int nested = 0;
  prompter.onMessage = [&](const testing::Message&) {
    if (nested++ > 0) return;
    EXPECT_TRUE(shell->Busy);
    shell->Button_Click(1);
    shell->MainWindowProc(1);
  };
  LeaveAndReturn([&] {
    app->AddWorkbook("more.xlsx", dirs.Data + "more.xlsx");
    AddTernarySheet(*app, {{30, 1, 0, 0}});
  });
  EXPECT_EQ(prompter.requests.size(), 1u);
  EXPECT_EQ(nested, 1);
  EXPECT_FALSE(shell->Busy);
}

// ---------------------------------------------------------------- calculate

TEST_F(ShellTest, CalculateWritesResultsUnderTheCaptionCalculating) {
  Start();
  OpenRun1();
  window.captions.clear();
  shell->Events->xlChanged = true;
  shell->Button_Click(2);
  ASSERT_FALSE(window.captions.empty());
  EXPECT_EQ(window.captions.front(), "Calculating...");
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
  EXPECT_FALSE(shell->Events->xlChanged);
  for (int row = 4; row <= 5; ++row) {
    for (int column = 5; column <= 12; ++column) {
      EXPECT_TRUE(std::holds_alternative<double>(Sheet()->Value(row, column))) << row << "," << column;
    }
  }
  EXPECT_TRUE(prompter.messages.empty() || prompter.messages.back().icon != link::MessageIcon::Error);
}

TEST_F(ShellTest, AnErrorDuringCalculationIsShownAndTheProgramGoesOn) {
  Start();
  OpenRun1();
  prompter.messages.clear();
  app->SimulateGone();
  shell->Button_Click(2);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].icon, link::MessageIcon::Error);
  EXPECT_FALSE(prompter.messages[0].text.empty());
  EXPECT_FALSE(shell->Ended);
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
}

// --------------------------------------------------------------- the bridge

TEST(Class1Test, RaisesOneEventPerActivationChange) {
  std::int16_t errorCode = 0;
  Class1 bridge([] { return nullptr; }, errorCode);
  int activated = 0, deactivated = 0;
  bridge.Activated = [&] { ++activated; };
  bridge.Deactivated = [&] { ++deactivated; };
  bridge.RaiseEvents(0);
  EXPECT_EQ(activated + deactivated, 0);
  bridge.RaiseEvents(1);
  EXPECT_EQ(activated, 1);
  bridge.RaiseEvents(-1);
  EXPECT_EQ(deactivated, 1);
  EXPECT_EQ(activated, 1);
}

TEST(Class1Test, SwitchesEventsOnlyWithASheetAndReportsFailures) {
  MemoryApplication app('.');
  app.AddWorkbook("a.xlsx");
  auto sheet = app.AddSheet("Components");
  std::int16_t errorCode = 5;
  Class1 bridge([&] { return &app; }, errorCode);

  app.SetEventsEnabled(false);
  bridge.xlEvents(true);  // no sheet yet: nothing
  EXPECT_FALSE(app.EventsEnabled());
  EXPECT_EQ(errorCode, 5);

  bridge.SetSheet(sheet);
  bridge.xlEvents(true);
  EXPECT_TRUE(app.EventsEnabled());
  sheet->UserEdit(9, 9, "x");
  EXPECT_TRUE(bridge.xlChanged);

  bridge.xlChanged = false;
  bridge.xlEvents(false);
  sheet->UserEdit(9, 9, "y");
  EXPECT_FALSE(bridge.xlChanged);

  app.SimulateGone();
  bridge.xlEvents(true);
  EXPECT_EQ(errorCode, -1);
}

}  // namespace
}  // namespace tersolv::shell
