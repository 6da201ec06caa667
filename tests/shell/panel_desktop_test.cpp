// The panel beside a visible LibreOffice Calc, used as a user uses it: under Xvfb with the openbox
// window manager, keys and clicks sent by xdotool to the panel, its dialogs and the office's window;
// what the office holds is looked at through a second connection to it. Every process started here
// is stopped by its id. TERSOLV_SCREENSHOT=<file.png> also takes a picture of the screen once the
// typed points are calculated (docs/make-screenshot.sh).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "link/uno/calc_application.h"
#include "office_fixture.h"

extern char** environ;

namespace tersolv::shell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using link::uno::CalcApplication;
using link::uno::testing::TestOffice;

constexpr int kScreenWidth = 1600, kScreenHeight = 900;

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit = 30s) {
  for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
    if (condition()) return true;
    std::this_thread::sleep_for(100ms);
  }
  return condition();
}

// A process started here, its output dropped; stopped by its id (SIGTERM, then SIGKILL after 5 s).
struct Process {
  pid_t pid = 0;
  explicit Process(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (!Running()) return;
    ::kill(pid, SIGTERM);
    if (WaitFor([this] { return !Running(); }, 5s)) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  bool Running() {
    if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) != 0) pid = 0;  // ended (and reaped)
    return pid > 0;
  }
};

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    ::pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

void Xdo(const std::string& arguments) { std::system(("timeout 10 xdotool " + arguments + " > /dev/null 2>&1").c_str()); }

// `text` as the names of the keys that type it, for `xdotool key` (which, unlike `xdotool type`, uses
// only the keys of the keyboard map that the office understands).
std::string KeysOf(const std::string& text) {
  const std::map<char, std::string> names = {{'\t', "Tab"},  {'\n', "Return"}, {'.', "period"},
                                             {'/', "slash"}, {'-', "minus"},   {'_', "underscore"}};
  std::string keys = "key --delay 30";
  for (char c : text) keys += " " + (names.count(c) ? names.at(c) : std::string(1, c));
  return keys;
}

class PanelDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xprop", "soffice"})
      if (std::system(("command -v " + std::string(tool) + " > /dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << tool << " is not installed: the desktop test is skipped";
    if (!fs::exists("/usr/lib/libreoffice/program/libvclplug_genlo.so"))
      GTEST_SKIP() << "this LibreOffice has no windows (libreoffice-calc-nogui): the desktop test is skipped";
    char pattern[] = "/tmp/tersolv-desktop-XXXXXX";
    root_.assign(::mkdtemp(pattern));
    for (const char* d : {"prog", "home/data"}) fs::create_directories(root_ / d);
    fs::copy_file(TERSOLV_PANEL_PATH, root_ / "prog/tersolv-panel");
    fs::copy_file(TERSOLV_TEMPLATE_PATH, root_ / "prog/Tersolv.xlsx");
    std::ofstream(root_ / "prog/Tersolv.ini") << "WorkDir=" << (root_ / "home/data/").string() << "\n";
    // The screen: Xvfb on a display it picks itself, and openbox.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    server_ = std::make_unique<Process>(std::vector<std::string>{
        "Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
        std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24", "-nolisten", "tcp"});
    ::close(fds[1]);
    std::string display = ":";
    for (char c; ::read(fds[0], &c, 1) == 1 && c != '\n';) display += c;
    ::close(fds[0]);
    ASSERT_NE(display, ":") << "Xvfb did not start";
    ::setenv("DISPLAY", display.c_str(), 1);
    manager_ = std::make_unique<Process>(std::vector<std::string>{"openbox"});
    const std::string managed = "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep window";
    ASSERT_TRUE(WaitFor([&] { return !Output(managed).empty(); })) << "openbox did not start";
    ::setenv("HOME", (root_ / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root_ / "home/.config").c_str(), 1);
    ::setenv("TERSOLV_PIPE", visible_.Pipe().c_str(), 1);
  }

  // The panel's windows (its main window first) and the office's, by title.
  std::vector<std::string> PanelWindows() const {
    return Words(Output("xdotool search --onlyvisible --pid " + std::to_string(panel_->pid)));
  }
  static std::string Title(const std::string& id) { return Output("xdotool getwindowname " + id + " 2>/dev/null"); }
  std::string PanelTitle() const { return Title(panelWindow_); }
  // A visible window of the panel other than the main one with this title, or "".
  std::string Dialog(const std::string& title) const {
    for (const std::string& id : PanelWindows())
      if (id != panelWindow_ && Title(id) == title) return id;
    return "";
  }
  // The office's window of the document with this title ("Untitled 1", "other.xlsx").
  static std::string Calc(const std::string& document) {
    const std::vector<std::string> ids =
        Words(Output("xdotool search --onlyvisible --name '^" + document + " - LibreOffice Calc$'"));
    return ids.empty() ? "" : ids.back();
  }

  // A number of the workbook of that file ("" for the untitled one), -1 when the cell holds none; read
  // without bringing it to the front.
  double Number(const std::string& file, const std::string& sheet, int row, int column) {
    try {
      const auto cells = TestOffice::CellContents(*office_, file, sheet, row, row, column);
      const double* number = std::get_if<double>(&cells.at(0).at(static_cast<std::size_t>(column - 1)));
      return number != nullptr ? *number : -1.0;
    } catch (const std::exception&) {
      return -1.0;  // not open (yet)
    }
  }
  // A click on the panel at this height: 20 and 52 are its first two buttons, 120 its free area at the
  // bottom (the panel becomes the active window, as when a user returns to it).
  void Click(int y = 120) { Xdo("mousemove --window " + panelWindow_ + " 100 " + std::to_string(y) + " click 1"); }
  void Calculate() { Click(); Xdo("key --clearmodifiers alt+c"); }  // by its key, as a user may
  // The panel's dialog with this title: present within `limit`, given `keys`, then gone.
  bool Answer(const std::string& title, const std::string& keys, std::chrono::seconds limit = 30s) {
    std::string dialog;
    if (!WaitFor([&] { return !(dialog = Dialog(title)).empty(); }, limit)) return false;
    Xdo("windowactivate --sync " + dialog + " " + keys);
    return WaitFor([&] { return Dialog(title).empty(); });
  }
  bool CloseMessage(std::chrono::seconds limit = 30s) { return Answer("Tersolv", "key Return", limit); }
  // "Open existing data file", its dialog given `keys` (a path and Return, or Escape).
  bool UseFileDialog(const std::string& keys) { Click(52); return Answer("Choose data file", keys); }

  // Stopped and removed in the reverse order: the panel, the office (killed before the connection to
  // it goes, so that nothing waits for it), openbox, Xvfb and the test's folder.
  struct Folder : fs::path {
    ~Folder() { std::error_code ignored; if (!empty()) fs::remove_all(*this, ignored); }
  } root_;
  std::unique_ptr<Process> server_, manager_;
  std::unique_ptr<CalcApplication> office_;  // a second connection, to look at what the office holds
  TestOffice visible_{false};                // with its windows
  std::unique_ptr<Process> panel_;
  std::string panelWindow_;
};

TEST_F(PanelDesktop, CreateTypeCalculateOpenAndCancel) {
  office_ = visible_.Attach();
  // Another data file in the working folder: two points on its "Components" sheet, the active one.
  const std::string other = (root_ / "home/data/other.xlsx").string();
  office_->NewWorkbookFromTemplate((root_ / "prog/Tersolv.xlsx").string(), "");
  office_->ActivateSheet("Components");
  for (int row : {4, 5}) office_->ActiveSheet()->WriteNumbers(row, 1, std::vector<double>{25.0, row == 4 ? 0.1 : 10.0});
  office_->SaveActiveWorkbookCopy(other);
  office_->CloseActiveWorkbook();

  panel_ = std::make_unique<Process>(std::vector<std::string>{(root_ / "prog/tersolv-panel").string()});
  ASSERT_TRUE(WaitFor([&] { return PanelWindows().size() == 1; })) << "the panel did not show";
  panelWindow_ = PanelWindows().front();
  // First start: the top-right corner of the screen, clear of the office's menus.
  const std::vector<std::string> place = Words(Output("xwininfo -id " + panelWindow_ + " | sed -n " +
                                                      "'s/.*Absolute upper-left [XY]: *//p; s/.*Width: *//p'"));
  ASSERT_EQ(place.size(), 3u);
  EXPECT_TRUE(std::stoi(place[0]) + std::stoi(place[2]) > kScreenWidth - 16 && std::stoi(place[1]) < 40);

  // "Create new data file": an untitled, editable workbook; a second click finds the button disabled,
  // and a cancelled dialog right after shows no message about the template and opens nothing.
  Click(20);
  ASSERT_TRUE(WaitFor([&] { return office_->WorkbookCount() == 1 && !Calc("Untitled 1").empty(); }));
  EXPECT_EQ(office_->WorkbookFullName(1), "");
  ASSERT_TRUE(WaitFor([&] { return PanelTitle() == "Tersolv: Components"; })) << PanelTitle();
  Click(20);
  ASSERT_TRUE(UseFileDialog("key Escape"));
  EXPECT_FALSE(CloseMessage(2s)) << "a message after a cancelled dialog";
  EXPECT_EQ(office_->WorkbookCount(), 1);

  // In the office's window: to the "Ternary system" sheet and three points typed from A4.
  const std::string calc = Calc("Untitled 1");
  Xdo("windowsize " + calc + " " + std::to_string(kScreenWidth - 240) + " " + std::to_string(kScreenHeight - 40) +
      " windowmove " + calc + " 0 0 windowactivate --sync " + calc +
      " key --clearmodifiers ctrl+Next ctrl+Home Down Down Down");
  Xdo(KeysOf("25\t0.1\t0\t0\n25\t0.1\t0.5\t1\n25\t0.1\t0.5\t7\n"));  // into the active window, as a user types
  const auto typed = [&](int row, int column) { return Number("", "Ternary system", row, column); };
  ASSERT_TRUE(WaitFor([&] { return typed(6, 4) == 7.0; })) << "the points were not typed in";

  // Back to the panel (a click on it): the sheet is read, three points; then "Calculate values".
  Click();
  ASSERT_TRUE(CloseMessage()) << "no count of the points";
  EXPECT_EQ(PanelTitle(), "Tersolv: Ternary system");
  Calculate();
  ASSERT_TRUE(WaitFor([&] { return typed(6, 12) > 0; })) << "nothing calculated";
  // Pure water at 25 C, 0.1 MPa: osmotic coefficient 1, density 0.997047 g/cm3 (IAPWS-95).
  EXPECT_NEAR(typed(4, 5), 1.0, 1e-12);
  EXPECT_NEAR(typed(4, 11), 0.997047, 1e-6);
  if (const char* picture = std::getenv("TERSOLV_SCREENSHOT")) {
    Xdo("windowactivate --sync " + calc);
    std::this_thread::sleep_for(1s);
    std::system(("import -window root '" + std::string(picture) + "'").c_str());
  }

  // The other file, chosen in the dialog, is what opens and is read; "Calculate values" pressed at
  // once after its count is not lost, and the first workbook's results stay.
  ASSERT_TRUE(UseFileDialog(KeysOf(other + "\n")));
  ASSERT_TRUE(CloseMessage()) << "no count of the points of the chosen file";
  Calculate();
  const auto chosen = [&](int row, int column) { return Number(other, "Components", row, column); };
  EXPECT_TRUE(WaitFor([&] { return chosen(5, 3) > 0; })) << "the click on Calculate values was lost";
  EXPECT_NEAR(typed(4, 5), 1.0, 1e-12);
  EXPECT_EQ(PanelTitle(), "Tersolv: Components");

  // A cancelled dialog with that file offered: no message, still two workbooks, the same sheet read.
  ASSERT_TRUE(UseFileDialog("key Escape"));
  EXPECT_FALSE(CloseMessage(2s));
  EXPECT_TRUE(office_->WorkbookCount() == 2 && PanelTitle() == "Tersolv: Components");

  // Saved, reloaded by the office (another document in its window) and a point added there: the
  // return reads it, and "Calculate values" writes into what the user sees.
  Xdo("windowactivate --sync " + Calc("other.xlsx"));
  office_->SaveActiveWorkbook();
  TestOffice::Reload(*office_, other);
  Xdo("windowactivate --sync " + Calc("other.xlsx") + " key --clearmodifiers ctrl+Home Down Down Down Down Down");
  Xdo(KeysOf("50\t1\n"));
  ASSERT_TRUE(WaitFor([&] { return chosen(6, 2) == 1.0; })) << "the point was not typed in";
  Click();
  EXPECT_TRUE(CloseMessage()) << "no count of the points after the reload";
  Calculate();
  EXPECT_TRUE(WaitFor([&] { return chosen(6, 3) > 0; })) << "nothing calculated in the reloaded document";
  EXPECT_EQ(link::uno::testing::FileBytes((root_ / "prog/Tersolv.xlsx").string()),
            link::uno::testing::FileBytes(TERSOLV_TEMPLATE_PATH));  // the template never written

  // Every workbook closed (the office shows its start centre): the return says so and the panel ends.
  TestOffice::CloseAllDocuments(*office_);
  std::string centre;
  ASSERT_TRUE(WaitFor([&] { return !(centre = Output("xdotool search --onlyvisible --name '^LibreOffice$'")).empty(); }));
  Xdo("windowactivate --sync " + Words(centre).back());
  std::this_thread::sleep_for(1s);  // a user's pace: the panel has seen that it is no longer active
  Click();
  EXPECT_TRUE(CloseMessage());
  EXPECT_TRUE(WaitFor([&] { return !panel_->Running(); })) << "the panel did not end";
}

}  // namespace
}  // namespace tersolv::shell
