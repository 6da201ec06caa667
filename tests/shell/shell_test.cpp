// The shell's flows with the in-memory spreadsheet and a scripted user, and the
// small routines that the flows do not reach.
#include "shell/shell.h"

#include <gtest/gtest.h>

#include "shell/routines.h"
#include "shell_fakes.h"

namespace tersolv::shell {
namespace {

using link::MessageIcon;
using link::memory::MemoryApplication;
using testing::AddTernarySheet;
using Dirs = testing::ScratchFolders;
using Messages = std::vector<std::pair<MessageIcon, std::string>>;

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"prog/Tersolv.xlsx", "home/data/run1.xlsx"}) Dirs::Write(dirs.root / f, "x");
  }
  void Start(const std::string& commandLine = "") {
    window = {};
    prompter = {};
    Environment env = dirs.Env([this]() -> std::unique_ptr<link::Application> {
      if (failStart) throw link::LinkError(link::kApplicationGone, "no office answers");
      auto a = std::make_unique<MemoryApplication>('.');
      a->AddFile(dirs.Program + "Tersolv.xlsx", [](auto& m) { AddTernarySheet(m, {{25, 0.1, 0, 0}}); });
      a->AddFile(dirs.Data + "run1.xlsx", [](auto& m) { AddTernarySheet(m, {{25, 1, 0.1, 0.5}, {100, 10, 0.2, 1}}); });
      a->AddFile(dirs.Other + "run1.xlsx", [](auto& m) { AddTernarySheet(m, {{50, 2, 0, 0}}); });
      a->AddFile(dirs.Data + "run2.xlsx",
                 [](auto& m) { AddTernarySheet(m, {{30, 1, 0, 0}, {40, 1, 0, 0}, {50, 1, 0, 0}}); });
      app = a.get();
      return a;
    });
    env.ProgramFolder.pop_back();  // "/" is appended
    env.CommandLine = commandLine;
    shell = std::make_unique<Shell>(window, prompter, env);
    window.shell = shell.get();
    shell->Form_Load();
  }
  void Open(const std::optional<std::string>& answer) { prompter.answers.push_back(answer); shell->Button_Click(1); }
  // The user leaves for the spreadsheet, does `meanwhile` there and comes back.
  void LeaveAndReturn(const std::function<void()>& meanwhile = {}) {
    shell->MainWindowProc(-1);
    if (meanwhile) meanwhile();
    window.captions.clear();  // so that they and the messages tell what the return did
    prompter.messages.clear();
    shell->MainWindowProc(1);
  }
  bool Collapsed() const { return window.height == kCollapsedHeight && window.caption == "Tersolv"; }

  Dirs dirs;
  testing::FakeWindow window;
  testing::ScriptedPrompter prompter;
  MemoryApplication* app = nullptr;
  bool failStart = false;
  std::unique_ptr<Shell> shell;
};

TEST_F(ShellTest, StartUp) {
  const Messages noOffice = {{MessageIcon::Error, "Could not run LibreOffice Calc"}};
  struct Row { std::string ini, folder; Messages messages; };
  const Row rows[] = {
      {"", dirs.Home, {}},  // empty settings file
      {"WorkDir=  " + dirs.Data + "  \r\nWorkDir=/x/\n", dirs.Data, {}},
      {"workdir=" + dirs.Data + "\n", dirs.Home, {}},        // key in lower case
      {"WorkDir=" + dirs.Home + "none/\n", dirs.Home, {}},   // no such folder
      {"WorkDir=" + dirs.Home + "empty/\n", dirs.Home, {}},  // no ordinary file in it
      {"WorkDir=" + dirs.Home + "data\n", dirs.Home, {}},    // no trailing "/"
      {"WorkDir=" + dirs.Program + "\n", "", {{MessageIcon::Warning, "Do not work in the home folder!  "}}},
      {"WorkDir=/kept/\n", "", noOffice},
  };
  for (const auto& [ini, folder, messages] : rows) {
    SCOPED_TRACE(ini);
    Dirs::Write(dirs.Program + "Tersolv.ini", ini);
    failStart = messages == noOffice;
    Start("-x /IE");
    EXPECT_EQ(shell->WorkFolder, folder);
    EXPECT_EQ(prompter.messages, messages);
    if (messages.empty()) {  // started: in the working folder, collapsed, on top, the office visible
      EXPECT_EQ(std::filesystem::current_path().string() + "/", folder);
      EXPECT_TRUE(Collapsed() && window.topmost && window.shown && window.enabled[0] && app->Visible());
      EXPECT_TRUE(shell->ExtendedRange && window.credit == "Tersolv release 0.5");
    } else {  // given up: the window closed unshown, exit code 1
      EXPECT_TRUE(shell->Ended && window.closed && !window.shown && shell->ExitCode == 1);
    }
    shell->Unload();  // a failed start keeps the user's settings
    EXPECT_EQ(Dirs::Read(dirs.Program + "Tersolv.ini"), failStart ? ini : "WorkDir=" + folder + "\n");
  }
  std::filesystem::remove(dirs.Program + "Tersolv.xlsx");  // no template: no new data files, even later
  Start();
  LeaveAndReturn();
  EXPECT_FALSE(window.enabled[0]);
}

// The open command, whatever the window does meanwhile (it loses and regains the focus after the
// dialog and around every message box): it reads once what the user chose, or the earlier file on a
// cancel, or collapses the window with a message.
TEST_F(ShellTest, OpenIsOneReadOfWhatTheUserChose) {
  struct Row {
    const char* what;
    std::function<void()> before;                     // what the user did earlier
    std::vector<std::optional<std::string>> answers;  // of the file dialogs (nothing: cancel)
    std::string book;     // read at the end: the folder and name of a file, the name of a new one, "" none
    int points;           // read from it
    std::string message;  // the start of the one message shown ("" none)
    std::string request = "";  // the folder and name offered by the last dialog ("": not checked)
  };
  const std::string run1 = dirs.Data + "run1.xlsx", run2 = dirs.Data + "run2.xlsx", chart = dirs.Data + "chart.xlsx";
  const std::string other = dirs.Other + "run1.xlsx", count = "Number of points:  ", failed = "Could not open the file";
  const std::optional<std::string> cancel;
  const auto open1 = [&] { Open(run1); };
  const auto addChart = [&] { app->AddFile(chart, [](MemoryApplication& m) { m.AddSheet("Chart", false); }); };
  const Row rows[] = {
      {"cancel, nothing read yet", {}, {cancel}, "", 0, "", dirs.Home},
      {"first file", {}, {run2}, run2, 3, count + "3"},
      {"cancel: the earlier file, offered by the dialog", open1, {cancel}, run1, 2, "", run1},
      {"cancel after Create", [&] { shell->Button_Click(0); }, {cancel}, "Untitled 1", 1, ""},
      {"cancel, the earlier file closed", [&] { open1(); app->CloseWorkbook(1); }, {cancel}, "", 0, ""},
      {"the template: warned, asked again from the home folder, cancel", open1,
       {dirs.Program + "Tersolv.xlsx", cancel}, "run1.xlsx", 2, "Do not work in the home folder!", dirs.Home},
      {"a workbook without a worksheet", addChart, {chart}, "", 0, failed},
      {"no such file", {}, {dirs.Data + "unknown.xlsx"}, "", 0, failed + "\n"},
      // Open already with its chart active: its first worksheet stands in.
      {"open already", [&] { addChart(); Open(chart); AddTernarySheet(*app, {{25, 1, 0, 0}}); }, {chart}, chart, 1,
       count + "1"},
      // Open workbooks are matched by their full path, not by their name.
      {"a namesake in another folder", open1, {other}, other, 1, count + "1"},
      {"back to the first of two namesakes", [&] { open1(); Open(other); }, {run1}, run1, 2, count + "2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Start();
    if (row.before) row.before();
    window.captions.clear();
    prompter = {};
    prompter.onProcess = prompter.onMessage = [&] { shell->MainWindowProc(-1); shell->MainWindowProc(1); };
    for (const auto& answer : row.answers) prompter.answers.push_back(answer);
    shell->Button_Click(1);
    const long reads = row.book.empty() ? 0 : 1;
    EXPECT_EQ(window.Reads(), reads);
    EXPECT_EQ(row.book.find('/') == std::string::npos ? shell->WorkbookName : shell->WorkFolder + shell->WorkbookName,
              row.book);
    if (reads == 0) {
      EXPECT_TRUE(Collapsed() && shell->SheetName.empty() && !shell->Ended);
    } else {
      EXPECT_EQ(app->ActiveWorkbookName(), shell->WorkbookName);
      EXPECT_EQ(shell->Reader->Points.PointCount, row.points);
      EXPECT_TRUE(window.caption == "Tersolv: Ternary system" && window.height == kDesignHeight && window.separator);
    }
    EXPECT_EQ(prompter.messages.size(), row.message.empty() ? 0u : 1u) << prompter.Last();
    EXPECT_EQ(prompter.Last().rfind(row.message, 0), 0u) << prompter.Last();
    EXPECT_EQ(prompter.processed, static_cast<long>(row.answers.size()) + reads);  // after a dialog, in a read
    if (!row.request.empty()) {
      EXPECT_EQ(prompter.requests.back().InitialFolder + "/" + prompter.requests.back().FileName, row.request);
    }
    EXPECT_FALSE(shell->Events->xlChanged || shell->Busy);
  }
}

// A failed run: its error shown, the caption back and no change left over to read on the return.
TEST_F(ShellTest, AFailedCalculationIsShownAndLeavesNoChange) {
  Start();
  Open(dirs.Data + "run1.xlsx");
  window.captions.clear();
  prompter.messages.clear();
  app->SimulateGone();
  shell->Events->xlChanged = true;
  shell->Button_Click(2);
  EXPECT_EQ(window.captions.front() + " " + window.caption, "Calculating... Tersolv: Ternary system");
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_TRUE(prompter.messages[0].first == MessageIcon::Error && !shell->Ended && !shell->Events->xlChanged);
}

// Create from the template, then returns: what changed is read, clicks wait, closing all ends.
TEST_F(ShellTest, CreateAndReturnsToThePanel) {
  Start();
  shell->Button_Click(0);
  EXPECT_EQ(app->WorkbookName(1) + "|" + app->WorkbookFullName(1), "Untitled 1|");  // untitled, unsaved
  EXPECT_TRUE(!window.enabled[0] && prompter.Last() == "Number of points:  1");
  LeaveAndReturn();
  EXPECT_FALSE(window.Read() || window.enabled[0]);
  // Saved under a name: read again, and a new data file can be made again.
  LeaveAndReturn([&] { app->SaveWorkbookAs(1, dirs.Data + "new.xlsx"); });
  EXPECT_TRUE(window.Read() && shell->WorkbookName == "new.xlsx" && window.enabled[0]);
  // The office reloads it (same name, same sheet, another document): read again on the
  // return, and "Calculate values" without a return reads it first.
  const auto reload = [&] {
    app->CloseWorkbook(1);
    app->AddFile(dirs.Data + "new.xlsx", [](auto& m) { AddTernarySheet(m, {{25, 1, 0, 0}, {30, 1, 0, 0}}); });
    app->OpenWorkbook(dirs.Data + "new.xlsx", false);
  };
  LeaveAndReturn(reload);
  EXPECT_TRUE(window.Read() && shell->Reader->Points.PointCount == 2);
  reload();
  window.captions.clear();
  prompter.messages.clear();
  shell->Button_Click(2);
  EXPECT_TRUE(window.Reads() == 1 && prompter.messages.empty()) << prompter.Last();
  EXPECT_TRUE(std::holds_alternative<double>(app->Sheet("Ternary system")->Value(5, 12)));
  app->CloseWorkbook(1);
  shell->Button_Click(0);
  Open(dirs.Data + "run1.xlsx");
  LeaveAndReturn();
  EXPECT_FALSE(window.Read() || app->EventsEnabled());
  app->Sheet("Ternary system")->UserEdit(5, 3, "0.3");  // while the panel is in front: not a change
  LeaveAndReturn();
  EXPECT_FALSE(window.Read());
  LeaveAndReturn([&] { app->Sheet("Ternary system")->UserEdit(5, 3, "0.3"); });
  EXPECT_TRUE(window.Read() && prompter.messages.empty());  // same count: no message
  EXPECT_DOUBLE_EQ(shell->Reader->Points.PointMH2S[2], 0.3);

  LeaveAndReturn([&] { app->ActivateSheet(app->AddSheet("Notes")->Name()); });
  EXPECT_TRUE(prompter.Last() == "Row=0, Col=0: Unrecognized worksheet" && Collapsed());

  int shown = 0;
  prompter.onMessage = [&] {  // the reader's message box, inside the handler: clicks and returns dropped
    if (shown++ > 0) return;
    shell->Button_Click(1);
    shell->MainWindowProc(1);
    EXPECT_TRUE(shell->Busy);
  };
  LeaveAndReturn([&] {
    app->AddWorkbook("more.xlsx", dirs.Data + "more.xlsx");
    AddTernarySheet(*app, {{30, 1, 0, 0}, {40, 1, 0, 0}, {50, 1, 0, 0}});
  });
  EXPECT_EQ(prompter.messages, (Messages{{MessageIcon::Information, "Number of points:  3"}}));
  EXPECT_TRUE(shell->WorkbookName == "more.xlsx" && !shell->Busy && !window.enabled[0]);  // the template still open
  LeaveAndReturn([&] { app->CloseWorkbook(1); });
  EXPECT_TRUE(window.enabled[0] && !window.Read());

  LeaveAndReturn([&] { while (app->WorkbookCount() > 0) app->CloseWorkbook(1); });
  EXPECT_TRUE(prompter.Last() == "Tersolv closed: could not find an open worksheet " && shell->Ended && window.closed);
  shell->MainWindowProc(1);  // late events do nothing
  shell->Button_Click(1);
  EXPECT_EQ(prompter.requests.size(), 1u);
}

TEST(RoutinesTest, SwitchSettingsPlaceAndPaths) {
  for (const char* on : {"/ie", "/Ie/ x", "--extended-range"}) EXPECT_TRUE(ExtendedRangeSwitch(on)) << on;
  for (const char* off : {"", "ie", "/i e", "/ied", "-ie"}) EXPECT_FALSE(ExtendedRangeSwitch(off)) << off;
  Dirs dirs;
  const std::string none = dirs.root / "none";  // a program folder that cannot be written
  EXPECT_EQ(SettingsFilePath(none, "/cfg", dirs.Home), "/cfg/tersolv/Tersolv.ini");
  EXPECT_EQ(SettingsFilePath(none, "relative", dirs.Home), dirs.Home + ".config/tersolv/Tersolv.ini");
  EXPECT_TRUE(WriteWorkDir(dirs.Home + ".config/tersolv/Tersolv.ini", "/d/"));  // its folder is made
  EXPECT_FALSE(SamePath(dirs.Data + "a.xlsx", dirs.Data + "A.xlsx") || SamePath("", ""));
}

}  // namespace
}  // namespace tersolv::shell
