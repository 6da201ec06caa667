// What a save does to the file beside the results: two runs on one workbook,
// programs that hold or change it, owners and permissions, files that are not
// regular, and signals that end a run while it saves.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <thread>

#include "link/book/book_application.h"
#include "link/book/book_test_util.h"
#include "link/book/file_io.h"
#include "link/book/writer/workbook_writer.h"

namespace tersolv::link::book {
namespace {

using namespace testing;  // the helpers of book_test_util.h

constexpr uid_t kNobody = 65534;  // the unprivileged user and group of Debian
constexpr gid_t kNogroup = 65534;
const std::string kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";

void Points(const std::string& path, int extraCells = 0) {
  NewSheet sheet = testing::PointSheet({{25.0, 1.0, 0.1, 1.0}, {50.0, std::string("sat"), 0.0, 2.0}});
  for (int k = 0; k < extraCells; ++k) {  // below the data, beside the input columns: not read
    const auto row = 7 + static_cast<std::size_t>(k / 20);
    if (sheet.Rows.size() <= row) sheet.Rows.resize(row + 1);
    sheet.Rows[row].push_back(k % 20 < 4 ? NewValue() : NewValue(1.0 * k));
  }
  WriteNewWorkbookFile(path, {sheet});
}

bool HasResults(const std::string& path, const std::string& marker = "") {
  const auto app = OpenedFile(path);
  auto sheet = app->ActiveSheet();
  return !sheet->CellText(4, 12).empty() && (marker.empty() || sheet->CellText(1, 2) == marker);
}

// Temporary and lock files beside the workbook, in order.
std::string Leftovers(const TempFolder& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    const std::string name = entry.path().filename().string();
    if (name.find("tersolv-") != std::string::npos || name.rfind(".~lock.", 0) == 0) names.insert(name);
  }
  std::string list;
  for (const auto& name : names) list += name + " ";
  return list;
}

// A run that is still calculating (here, this test) holds the workbook open for writing while a
// second run is started on it.
TEST(SavedFiles, ASecondRunOnAHeldWorkbookFailsAndLosesNothing) {
  TempFolder dir;
  const std::string path = dir / "w.xlsx";
  Points(path);
  {
    BookApplication first;
    first.OpenWorkbook(path, false);
    first.ActiveSheet()->WriteText(1, 2, "first run");
    const std::string before = ReadFile(path);
    const std::string line = ReadFile(LockFilePath(path));
    EXPECT_TRUE(std::regex_match(line, std::regex("Tersolv \\(process [0-9]+\\),[^,]+,[^,]+,"
                                                  "[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9]{2}:[0-9]{2},;")))
        << line;  // the line LibreOffice writes: name, user, host, date, profile
    const RunResult second = RunTersolv(dir, "calc w.xlsx");
    EXPECT_EQ(second.Exit, 5);
    EXPECT_NE(second.Err.find("is being calculated by another Tersolv run"), std::string::npos) << second.Err;
    EXPECT_EQ(ReadFile(path), before);
    first.Save();
  }
  ASSERT_EQ(RunTersolv(dir, "calc w.xlsx").Exit, 0);
  EXPECT_TRUE(HasResults(path, "first run"));  // both runs' work is in the file
  EXPECT_EQ(Leftovers(dir), "");
}

// Locks found beside the file: live holders stop the run, dead ones go.
TEST(SavedFiles, LocksOfLiveHoldersStopTheRunStaleOnesAreRemoved) {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const passwd* account = ::getpwuid(::geteuid());
  const std::string user = account ? account->pw_name : std::to_string(::geteuid());
  const std::string me = "," + user + "," + host + ",07.12.2026 03:57,";
  const struct {
    std::string Line;
    bool HeldOpen;  // another process has the workbook open, as a running Calc has
    int Exit;
    const char* Message;
  } cases[] = {
      {",someone,elsewhere,07.12.2026 03:57,file:///home/someone/.config/libreoffice/4;", false, 5,
       "is open in LibreOffice or another program (locked by user someone on elsewhere"},
      {me + "file:///tmp/profile;", true, 5, "is open in LibreOffice"},
      {me + "file:///tmp/profile;", false, 0, ""},  // Calc ended without removing its lock
      {"Tersolv (process 4194000)" + me + ";", false, 0, ""},  // a run that was killed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    TempFolder dir;
    const std::string path = dir / "w.xlsx";
    Points(path);
    WriteFile(LockFilePath(path), c.Line);
    WriteFile(dir / ".w.xlsx.tersolv-Ab12Cd", "half a package");  // a save that was cut short
    const int held = c.HeldOpen ? ::open(path.c_str(), O_RDONLY) : -1;
    const RunResult run = RunTersolv(dir, "calc w.xlsx");
    if (held >= 0) ::close(held);
    EXPECT_EQ(run.Exit, c.Exit) << run.Err;
    EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    EXPECT_EQ(HasResults(path), c.Exit == 0);
    EXPECT_EQ(Leftovers(dir), c.Exit == 0 ? "" : ".w.xlsx.tersolv-Ab12Cd .~lock.w.xlsx# ");
  }
}

// A file another program changed since the run opened it is never overwritten: not at the save,
// not under its own name, and not when the change comes right before the rename.
TEST(SavedFiles, AFileChangedSinceOpeningIsNotOverwritten) {
  TempFolder dir;
  const std::string path = dir / "w.xlsx";
  Points(path);
  std::string theirs;
  {
    BookApplication app;
    app.OpenWorkbook(path, false);
    app.ActiveSheet()->WriteNumber(4, 5, 1.0);
    WriteNewWorkbookFile(path, {testing::PointSheet({})});
    theirs = ReadFile(path);
    ExpectLinkError(kFileError, [&] { app.Save(); }, {"changed by another program"});
    EXPECT_THROW(app.SaveAs(path), LinkError);  // not under its own name either
  }
  EXPECT_EQ(ReadFile(path), theirs);
  FileStamp stamp = StampOf(path);
  stamp.ModifiedNs -= 1;  // as if changed after the run looked at it
  EXPECT_THROW(ReplaceFile(path, "ours", &stamp), LinkError);
  EXPECT_EQ(ReadFile(path), theirs);
  EXPECT_EQ(Leftovers(dir), "");
  stamp = StampOf(path);
  ReplaceFile(path, "ours", &stamp);
  EXPECT_EQ(ReadFile(path), "ours");
}

// Owners, groups, modes and kinds of file, with the unprivileged user where
// the case needs one (the test itself runs as root in CI).
TEST(SavedFiles, OwnerGroupAndModeAreKeptOrTheRunRefuses) {
  if (::geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
    GTEST_SKIP() << "needs root and setpriv to act as another user";
  const struct {
    const char* Name;
    uid_t Owner;
    mode_t Mode;
    bool AsNobody;
    int Exit;
    const char* Message;
  } cases[] = {
      {"the user's private file, calculated by root", kNobody, 0600, false, 0, ""},
      {"a read-only file of the user's own", kNobody, 0444, true, 5, "is read-only"},
      {"a read-only file, calculated by root", kNobody, 0444, false, 5, "is read-only"},
      {"root's file the user may write", 0, 0666, true, 5, "cannot keep"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TempFolder dir;
    ASSERT_EQ(::chown(dir.Path().c_str(), kNobody, kNogroup), 0);  // the user's own folder
    const std::string path = dir / "w.xlsx";
    Points(path);
    ASSERT_EQ(::chown(path.c_str(), c.Owner, c.Owner == 0 ? 0 : kNogroup), 0);
    ASSERT_EQ(::chmod(path.c_str(), c.Mode), 0);
    const std::string before = ReadFile(path);
    const RunResult run = RunTersolv(dir, "calc w.xlsx", c.AsNobody ? kAsNobody : "");
    EXPECT_EQ(run.Exit, c.Exit) << run.Err;
    EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777),
              std::tuple(c.Owner, c.Owner == 0 ? 0 : kNogroup, c.Mode));
    EXPECT_EQ(ReadFile(path) == before, c.Exit != 0);
    EXPECT_EQ(Leftovers(dir), "");
  }
}

TEST(SavedFiles, OutputsThatAreNotRegularFilesAreRefused) {
  TempFolder dir;
  Points(dir / "w.xlsx");
  ASSERT_EQ(::mkfifo((dir / "pipe.xlsx").c_str(), 0644), 0);
  const bool device = ::mknod((dir / "null.xlsx").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // as /dev/null
  std::filesystem::create_directory(dir / "folder.xlsx");
  for (const std::string out : {"pipe.xlsx", "null.xlsx", "folder.xlsx"}) {
    if (out == "null.xlsx" && !device) continue;
    SCOPED_TRACE(out);
    const RunResult run = RunTersolv(dir, "calc w.xlsx -o " + out);
    EXPECT_EQ(run.Exit, 5);
    EXPECT_NE(run.Err.find("is not a regular file"), std::string::npos) << run.Err;
    EXPECT_FALSE(std::filesystem::is_regular_file(dir / out));
  }
  EXPECT_EQ(Leftovers(dir), "");
}

// SIGINT and SIGTERM sent while the file is being saved (its temporary file
// is there) leave nothing of ours beside it; after SIGKILL, which no program
// can answer, the next run removes what is left.
TEST(SavedFiles, ASignalAtTheSaveLeavesNoTemporaryFile) {
  TempFolder dir;
  const std::string path = dir / "Big.xlsx";
  Points(path, 400000);
  const std::string original = ReadFile(path);
  for (int signal : {SIGINT, SIGTERM, SIGKILL}) {
    SCOPED_TRACE(signal);
    WriteFile(path, original);
    bool hit = false;
    for (int attempt = 0; attempt < 5 && !hit; ++attempt) {
      const pid_t pid = ::fork();
      if (pid == 0) {  // the signals' default actions, whatever the test inherited; no output
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(TERSOLV_EXE, TERSOLV_EXE, "calc", path.c_str(), "--threads", "1", nullptr);
        ::_exit(127);
      }
      ASSERT_GT(pid, 0);
      int status = 0;
      while (::waitpid(pid, &status, WNOHANG) == 0) {
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
          if (entry.path().filename().string().rfind(".Big.xlsx.tersolv-", 0) == 0) hit = true;
        if (hit) {
          ::kill(pid, signal);
          ::waitpid(pid, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      if (hit) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
      }
    }
    if (!hit) GTEST_SKIP() << "the save was never caught under way";
    EXPECT_NO_THROW(OpenedFile(path));  // the old file or the new one, whole
    if (signal == SIGKILL) {
      EXPECT_NE(Leftovers(dir), "");
      EXPECT_EQ(RunTersolv(dir, "calc Big.xlsx").Exit, 0);
    }
    EXPECT_EQ(Leftovers(dir), "");
  }
}

}  // namespace
}  // namespace tersolv::link::book
