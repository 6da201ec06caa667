// The shell's flows with the in-memory spreadsheet and a scripted user:
// start-up, the data-file commands, activation handling and calculating;
// and the small routines that the flows do not reach.
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
using Points = std::vector<std::array<double, 4>>;

const Points kPoints = {{25, 1, 0.1, 0.5}, {100, 10, 0.2, 1.0}};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& f : {dirs.Program + "Tersolv.xlsx", dirs.Data + "run1.xlsx", dirs.Other + "run1.xlsx"}) Dirs::Write(f, "x");
  }
  void Start(const std::string& commandLine = "") {
    window = {};
    prompter = {};
    Environment env = dirs.Env([this]() -> std::unique_ptr<link::Application> {
      if (failStart) throw link::LinkError(link::kApplicationGone, "no office answers");
      auto a = std::make_unique<MemoryApplication>('.');
      a->AddFile(dirs.Program + "Tersolv.xlsx", [](MemoryApplication& m) { AddTernarySheet(m, {{25, 0.1, 0, 0}}); });
      a->AddFile(dirs.Data + "run1.xlsx", [](MemoryApplication& m) { AddTernarySheet(m, kPoints); });
      a->AddFile(dirs.Other + "run1.xlsx", [](MemoryApplication& m) { AddTernarySheet(m, {{50, 2, 0, 0}}); });
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
    window.captions.clear();
    prompter.messages.clear();
    shell->MainWindowProc(1);
  }
  // A new workbook in the data folder, active, with a ternary sheet.
  void AddBook(const std::string& name, const Points& points) { app->AddWorkbook(name, dirs.Data + name); AddTernarySheet(*app, points); }
  bool Collapsed() const { return window.height == kCollapsedHeight && !window.separator && window.caption == "Tersolv"; }
  std::string Settings() const { return Dirs::Read(dirs.Program + "Tersolv.ini"); }

  Dirs dirs;
  testing::FakeWindow window;
  testing::ScriptedPrompter prompter;
  MemoryApplication* app = nullptr;
  bool failStart = false;
  std::unique_ptr<Shell> shell;
};

TEST_F(ShellTest, StartUp) {
  std::filesystem::create_directories(dirs.Home + "empty");
  const Messages homeFolder = {{MessageIcon::Warning, "Do not work in the home folder!  "}};
  const Messages noOffice = {{MessageIcon::Error, "Could not run LibreOffice Calc"}};
  struct Row { std::string ini, folder; Messages messages; std::string after; };  // after: the settings file at the end
  const Row rows[] = {
      {"", dirs.Home, {}, ""},  // no settings file
      {"\n", dirs.Home, {}, ""},
      {"WorkDir=  " + dirs.Data + "  \r\nWorkDir=/x/\n", dirs.Data, {}, ""},
      {"workdir=" + dirs.Data + "\n", dirs.Home, {}, ""},        // key in lower case
      {"WorkDir=" + dirs.Home + "none/\n", dirs.Home, {}, ""},   // no such folder
      {"WorkDir=" + dirs.Home + "empty/\n", dirs.Home, {}, ""},  // no ordinary file in it
      {"WorkDir=" + dirs.Home + "data\n", dirs.Home, {}, ""},    // no trailing "/"
      {"WorkDir=" + dirs.Program + "\n", "", homeFolder, "WorkDir=\n"},
      {"WorkDir=/kept/\n", "", noOffice, "WorkDir=/kept/\n"},  // a failed start keeps the user's settings
  };
  for (const auto& [ini, folder, messages, after] : rows) {
    SCOPED_TRACE(ini);
    std::filesystem::remove(dirs.Program + "Tersolv.ini");
    if (!ini.empty()) Dirs::Write(dirs.Program + "Tersolv.ini", ini);
    failStart = messages == noOffice;
    Start("-x /IE");
    EXPECT_EQ(shell->WorkFolder, folder);
    EXPECT_EQ(prompter.messages, messages);
    if (messages.empty()) {  // started: in the working folder, collapsed, on top, the office visible
      EXPECT_EQ(std::filesystem::current_path().string() + "/", folder);
      EXPECT_TRUE(Collapsed() && window.topmost && window.shown && window.enabled[0] && app->Visible());
      EXPECT_EQ(window.credit, "Tersolv release 0.5");
      EXPECT_TRUE(shell->ExtendedRange);
    } else {  // given up: the window closed unshown, exit code 1
      EXPECT_TRUE(shell->Ended && window.closed && !window.shown && shell->ExitCode == 1);
    }
    shell->Unload();
    EXPECT_EQ(Settings(), after.empty() ? "WorkDir=" + folder + "\n" : after);
  }
}

TEST_F(ShellTest, OpenCancelChooseInTheProgramFolderAlreadyOpenAndNoWorksheet) {
  std::filesystem::remove(dirs.Program + "Tersolv.xlsx");
  Start();
  EXPECT_FALSE(window.enabled[0]);  // no template
  Open(std::nullopt);
  EXPECT_EQ(prompter.requests[0].InitialFolder + "/" + prompter.requests[0].FileName, dirs.Home);
  EXPECT_EQ(prompter.processed, 1);
  EXPECT_TRUE(Collapsed() && !window.Read());

  Open(dirs.Data + "run1.xlsx");
  EXPECT_EQ(shell->WorkFolder + shell->WorkbookName, dirs.Data + "run1.xlsx");
  EXPECT_TRUE(window.caption == "Tersolv: Ternary system" && window.height == kDesignHeight && window.separator);
  EXPECT_TRUE(prompter.Shown("Number of points:  2"));

  window.captions.clear();  // the next dialog starts there with that name; a cancel reads it afresh
  Open(std::nullopt);
  EXPECT_EQ(prompter.requests[2].InitialFolder + "/" + prompter.requests[2].FileName, dirs.Data + "run1.xlsx");
  EXPECT_TRUE(window.Read());
  LeaveAndReturn();
  EXPECT_FALSE(window.enabled[0]);

  prompter.answers.push_back(dirs.Program + "Tersolv.xlsx");  // warned, asked again from the home folder
  Open(std::nullopt);
  EXPECT_TRUE(prompter.Shown("Do not work in the home folder!  "));
  ASSERT_EQ(prompter.requests.size(), 5u);
  EXPECT_EQ(prompter.requests[4].InitialFolder + "/" + prompter.requests[4].FileName, dirs.Home);
  EXPECT_TRUE(Collapsed());

  Open(dirs.Other + "run1.xlsx");  // open workbooks are matched by their full path, not by their name
  EXPECT_EQ(shell->Reader->Points.PointCount, 1);
  Open(dirs.Data + "run1.xlsx");
  EXPECT_EQ(shell->Reader->Points.PointCount, 2);
  EXPECT_EQ(app->WorkbookCount(), 2);

  app->AddFile(dirs.Data + "chart.xlsx", [](MemoryApplication& m) { m.AddSheet("Chart", false); AddTernarySheet(m, kPoints); });
  app->AddFile(dirs.Data + "charts.xlsx", [](MemoryApplication& m) { m.AddSheet("Chart", false); });
  Open(dirs.Data + "chart.xlsx");  // the first worksheet stands in for a chart
  EXPECT_EQ(window.caption, "Tersolv: Ternary system");
  for (const char* name : {"charts.xlsx", "unknown.xlsx"}) {
    prompter.messages.clear();
    Open(dirs.Data + name);
    ASSERT_EQ(prompter.messages.size(), 1u) << name;
    EXPECT_EQ(prompter.messages[0].second.rfind("Could not open the file", 0), 0u);
    EXPECT_TRUE(Collapsed() && shell->WorkbookName.empty() && shell->SheetName.empty() && !shell->Ended);
  }
}


TEST_F(ShellTest, CreateOpensTheTemplateAndTheWatchEnablesItAgain) {
  Start();
  shell->Button_Click(0);
  EXPECT_EQ(app->WorkbookFullName(1), dirs.Program + "Tersolv.xlsx");
  EXPECT_FALSE(window.enabled[0]);
  EXPECT_TRUE(prompter.Shown("Number of points:  1"));
  LeaveAndReturn();  // still open
  EXPECT_FALSE(window.enabled[0]);
  LeaveAndReturn([&] { AddBook("new.xlsx", kPoints); app->CloseWorkbook(1); });  // the template goes
  EXPECT_TRUE(window.enabled[0] && window.Read());
  EXPECT_EQ(shell->WorkbookName, "new.xlsx");
}

TEST_F(ShellTest, ReturningReadsOnlyWhatChangedDropsClicksWhileBusyAndEndsWhenAllIsClosed) {
  Start();
  Open(dirs.Data + "run1.xlsx");
  auto sheet = app->Sheet("Ternary system");
  LeaveAndReturn();
  EXPECT_FALSE(window.Read() || app->EventsEnabled());
  sheet->UserEdit(5, 3, "0.3");  // while the panel is in front: not a change
  LeaveAndReturn();
  EXPECT_FALSE(window.Read());
  LeaveAndReturn([&] { sheet->UserEdit(5, 3, "0.3"); });
  EXPECT_TRUE(window.Read() && prompter.messages.empty());  // same count: no message
  EXPECT_DOUBLE_EQ(shell->Reader->Points.PointMH2S[2], 0.3);

  LeaveAndReturn([&] { app->AddSheet("Notes"); app->ActivateSheet("Notes"); });
  EXPECT_TRUE(prompter.Shown("Row=0, Col=0: Unrecognized worksheet"));
  EXPECT_TRUE(Collapsed());

  int shown = 0;
  prompter.onMessage = [&] {  // the reader's message box, inside the handler: clicks and returns dropped
    if (shown++ > 0) return;
    EXPECT_TRUE(shell->Busy);
    shell->Button_Click(1);
    shell->MainWindowProc(1);
  };
  LeaveAndReturn([&] { AddBook("more.xlsx", {{30, 1, 0, 0}, {40, 1, 0, 0}, {50, 1, 0, 0}}); });
  prompter.onMessage = nullptr;
  EXPECT_EQ(prompter.messages, (Messages{{MessageIcon::Information, "Number of points:  3"}}));
  EXPECT_EQ(shell->WorkbookName, "more.xlsx");
  EXPECT_FALSE(shell->Busy);

  LeaveAndReturn([&] { while (app->WorkbookCount() > 0) app->CloseWorkbook(1); });
  EXPECT_EQ(prompter.messages, (Messages{{MessageIcon::Warning, "Tersolv closed: could not find an open worksheet "}}));
  EXPECT_TRUE(shell->Ended && window.closed);
  EXPECT_EQ(Settings(), "WorkDir=" + dirs.Data + "\n");
  shell->MainWindowProc(1);  // late events do nothing
  shell->Button_Click(1);
  EXPECT_EQ(prompter.requests.size(), 1u);
}

TEST_F(ShellTest, CalculateAndARunTimeErrorOnTheWay) {
  Start();
  Open(dirs.Data + "run1.xlsx");
  window.captions.clear();
  shell->Events->xlChanged = true;
  shell->Button_Click(2);
  EXPECT_EQ(window.captions.front() + " " + window.caption, "Calculating... Tersolv: Ternary system");
  EXPECT_FALSE(shell->Events->xlChanged);
  for (int column = 5; column <= 12; ++column) {
    EXPECT_TRUE(std::holds_alternative<double>(app->Sheet("Ternary system")->Value(5, column))) << column;
  }
  prompter.messages.clear();
  app->SimulateGone();
  shell->Button_Click(2);
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_TRUE(prompter.messages[0].first == MessageIcon::Error && !shell->Ended && window.caption == "Tersolv: Ternary system");
  shell->MainWindowProc(-1);  // switching the delivery fails silently
  EXPECT_TRUE(shell->ErrorCode == -1 && prompter.messages.size() == 1u);
}

TEST(RoutinesTest, SwitchSettingsPlaceAndPaths) {
  for (const char* on : {"/ie", "/Ie/ x", "--extended-range"}) EXPECT_TRUE(ExtendedRangeSwitch(on)) << on;
  for (const char* off : {"", "ie", "/i e", "/ied", "-ie"}) EXPECT_FALSE(ExtendedRangeSwitch(off)) << off;
  Dirs dirs;
  const std::string none = dirs.root.string() + "/none";  // a program folder that cannot be written
  EXPECT_EQ(SettingsFilePath(none, "/cfg", dirs.Home), "/cfg/tersolv/Tersolv.ini");
  EXPECT_EQ(SettingsFilePath(none, "relative", dirs.Home), dirs.Home + ".config/tersolv/Tersolv.ini");
  EXPECT_TRUE(WriteWorkDir(dirs.Home + ".config/tersolv/Tersolv.ini", "/d/"));  // its folder is made
  std::filesystem::create_symlink(dirs.Data, dirs.Home + "link");
  EXPECT_TRUE(SamePath(dirs.Data + "a.xlsx", dirs.Home + "link/../other/../data/./a.xlsx"));
  EXPECT_FALSE(SamePath(dirs.Data + "a.xlsx", dirs.Data + "A.xlsx") || SamePath("", ""));
}

}  // namespace
}  // namespace tersolv::shell
