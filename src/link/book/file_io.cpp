#include "link/book/file_io.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "link/link.h"

namespace tersolv::link::book {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw LinkError(kFileError, what + " \"" + path + "\": " + std::strerror(error));
}

FileStamp StampFromStat(const struct stat& st) {
  FileStamp stamp;
  stamp.Device = static_cast<std::uint64_t>(st.st_dev);
  stamp.Inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.Size = static_cast<std::uint64_t>(st.st_size);
  stamp.ModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return stamp;
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) Fail("Cannot read", path, errno);
  return StampFromStat(st);
}

namespace {

template <class Buffer>
Buffer ReadBytes(const std::string& path, std::uint64_t maxBytes, FileStamp* stamp) {
  Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) Fail("Cannot open", path, errno);
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) Fail("Cannot read", path, errno);
  if (S_ISDIR(st.st_mode)) throw LinkError(kFileError, "\"" + path + "\" is a folder, not a workbook file");
  if (!S_ISREG(st.st_mode)) throw LinkError(kFileError, "\"" + path + "\" is not a regular file");
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
    throw LinkError(kFileError, "\"" + path + "\" is too large (" + std::to_string(st.st_size) +
                                    " bytes; at most " + std::to_string(maxBytes) + " are read)");
  Buffer data;
  data.resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::read(file.fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("Cannot read", path, errno);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done != data.size()) throw LinkError(kFileError, "\"" + path + "\" changed while it was read");
  if (stamp) *stamp = StampFromStat(st);
  return data;
}

}  // namespace

std::string ReadWholeFile(const std::string& path, std::uint64_t maxBytes, FileStamp* stamp) {
  return ReadBytes<std::string>(path, maxBytes, stamp);
}

std::string FullPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) return path;
  auto canonical = std::filesystem::weakly_canonical(p, ec);
  return ec ? p.lexically_normal().string() : canonical.string();
}

namespace {

// Files to remove when a signal ends the process (a save's temporary file, a
// held lock file). A signal handler can reach nothing but globals: these
// slots are the only ones, set and cleared by RemovedOnSignal.
constexpr int kSignalSlots = 8;
std::atomic<const char*> removeOnSignal[kSignalSlots];

extern "C" void RemoveAndDie(int signal) {
  for (auto& slot : removeOnSignal)
    if (const char* path = slot.load()) ::unlink(path);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void InstallSignalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;  // ignored or handled
      struct sigaction action {};
      action.sa_handler = RemoveAndDie;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal, &action, nullptr);
    }
  });
}

// Registers `path` (which must outlive this object) for removal on a signal.
class RemovedOnSignal {
 public:
  explicit RemovedOnSignal(const std::string& path) {
    InstallSignalHandlers();
    for (auto& slot : removeOnSignal) {
      const char* expected = nullptr;
      if (slot.compare_exchange_strong(expected, path.c_str())) {
        slot_ = &slot;
        return;
      }
    }
  }
  ~RemovedOnSignal() {
    if (slot_) slot_->store(nullptr);
  }
  RemovedOnSignal(const RemovedOnSignal&) = delete;
  RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

 private:
  std::atomic<const char*>* slot_ = nullptr;
};

// What ReplaceFile keeps of an existing target.
struct Kept {
  bool Exists = false;
  uid_t Owner = 0;
  gid_t Group = 0;
  mode_t Mode = 0;
};

Kept Inspect(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    Fail("Cannot read", path, errno);
  }
  if (!S_ISREG(st.st_mode))
    throw LinkError(kFileError, "\"" + path + "\" is not a regular file (a folder, device or pipe); it is not replaced");
  if ((st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
    throw LinkError(kFileError, "\"" + path + "\" is read-only; it is not replaced");
  return {true, st.st_uid, st.st_gid, static_cast<mode_t>(st.st_mode & 07777)};
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("Cannot write", path, n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
}

// The temporary file of a save: `.NAME.tersolv-XXXXXX` beside the target.
std::string TempPattern(const std::filesystem::path& target) {
  std::string leaf = ".";  // appended piecewise: GCC 12 -O3 warns falsely (-Wrestrict) about "." + string
  leaf.append(target.filename().string()).append(".tersolv-XXXXXX");
  return (target.parent_path() / leaf).string();
}

}  // namespace

void CheckReplaceable(const std::string& path) { Inspect(FullPath(path)); }

void ReplaceFile(const std::string& path, std::string_view bytes, const FileStamp* expected) {
  const std::filesystem::path target = FullPath(path);
  const std::filesystem::path folder = target.parent_path();
  const Kept kept = Inspect(target.string());
  std::string tempPath = TempPattern(target);
  const RemovedOnSignal removed(tempPath);  // before the file exists: mkstemp names it in place
  Descriptor temp{::mkstemp(tempPath.data())};
  if (temp.fd < 0) Fail("Cannot create a temporary file in", folder.string(), errno);
  try {
    mode_t mode = 0666;
    if (kept.Exists) {
      mode = kept.Mode;
      struct stat st {};
      if (::fstat(temp.fd, &st) != 0) Fail("Cannot read", tempPath, errno);
      if ((st.st_uid != kept.Owner || st.st_gid != kept.Group) && ::fchown(temp.fd, kept.Owner, kept.Group) != 0)
        throw LinkError(kFileError, "\"" + target.string() + "\" belongs to user " + std::to_string(kept.Owner) +
                                        ", group " + std::to_string(kept.Group) +
                                        ", which a file written by this user cannot keep (" + std::strerror(errno) +
                                        "); it is not replaced");
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode &= ~mask;
    }
    if (::fchmod(temp.fd, mode) != 0) Fail("Cannot set the permissions of", tempPath, errno);
    WriteAll(temp.fd, bytes, tempPath);
    if (::fsync(temp.fd) != 0) Fail("Cannot write", tempPath, errno);
    if (expected) {
      struct stat st {};
      if (::stat(target.c_str(), &st) != 0 || !(StampFromStat(st) == *expected))
        throw LinkError(kFileError, "\"" + target.string() +
                                        "\" was changed or removed by another program while it was being saved; "
                                        "it is not overwritten");
    }
    if (::rename(tempPath.c_str(), target.c_str()) != 0) Fail("Cannot replace", target.string(), errno);
  } catch (...) {
    ::unlink(tempPath.c_str());
    throw;
  }
  Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd >= 0) ::fsync(dir.fd);
}

// ---------------------------------------------------------------- the lock

namespace {

std::string UserName() {
  if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_name;
  return std::to_string(::geteuid());
}

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return "localhost";
  return host;
}

// The lock line as LibreOffice writes it: "name,user,host,dd.mm.yyyy hh:mm,profile;".
std::string LockLine() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  ::localtime_r(&now, &local);
  char date[32];
  std::strftime(date, sizeof date, "%d.%m.%Y %H:%M", &local);
  return "Tersolv (process " + std::to_string(::getpid()) + ")," + UserName() + "," + HostName() + "," + date + ",;";
}

struct LockHolder {
  std::string Name, User, Host, Date;
  bool Ours = false;  // written by a Tersolv run
};

LockHolder ParseLockLine(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == ',') {
      fields.emplace_back();
    } else if (c != ';' && c != '\n' && c != '\r') {
      fields.back() += c;
    }
  }
  fields.resize(std::max<std::size_t>(fields.size(), 4));
  return {fields[0], fields[1], fields[2], fields[3], fields[0].rfind("Tersolv (process ", 0) == 0};
}

// Whether a process other than this one has the file at `path` open (as a
// running Calc has the files it edits); processes whose descriptors cannot
// be seen do not count.
bool OpenElsewhere(const std::string& path) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) return false;
  const std::string self = std::to_string(::getpid());
  std::error_code ec;
  for (const auto& process : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string pid = process.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    std::error_code fdError;
    for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
      struct stat st {};
      if (::stat(fd.path().c_str(), &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino) return true;
    }
  }
  return false;
}

bool SameInode(int fd, const std::string& path) {
  struct stat a {}, b {};
  return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < 4096) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// Removes the files that dead runs left beside `target`: temporary files of
// a save (only the holder of the lock saves the file) and of a lock.
void RemoveLeftovers(const std::filesystem::path& target, const std::string& lockPath) {
  const std::string saves = "." + target.filename().string() + ".tersolv-";
  const std::string locks = std::filesystem::path(lockPath).filename().string() + ".tersolv-";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == saves.size() + 6 && name.rfind(saves, 0) == 0) {
      ::unlink(entry.path().c_str());
    } else if (name.size() == locks.size() + 6 && name.rfind(locks, 0) == 0) {
      Descriptor other{::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC)};
      if (other.fd >= 0 && ::flock(other.fd, LOCK_EX | LOCK_NB) == 0) ::unlink(entry.path().c_str());
    }
  }
}

}  // namespace

std::string LockFilePath(const std::string& path) {
  const std::filesystem::path target = FullPath(path);
  std::string leaf = ".~lock.";
  leaf.append(target.filename().string()).append("#");
  return (target.parent_path() / leaf).string();
}

WorkbookLock::WorkbookLock(const std::string& path) : lockPath_(LockFilePath(path)) {
  const std::string target = FullPath(path);
  const std::string line = LockLine();
  for (int attempt = 0; attempt < 8; ++attempt) {
    // The line goes into a file of our own, locked, which is then linked
    // into place: no other run ever sees the lock file without its holder.
    std::string tempPath = lockPath_ + ".tersolv-XXXXXX";
    Descriptor temp{::mkstemp(tempPath.data())};
    if (temp.fd < 0) Fail("Cannot create the lock file of", target, errno);
    ::flock(temp.fd, LOCK_EX | LOCK_NB);
    ::fchmod(temp.fd, 0644);
    try {
      WriteAll(temp.fd, line, tempPath);
    } catch (...) {
      ::unlink(tempPath.c_str());
      throw;
    }
    const int linked = ::link(tempPath.c_str(), lockPath_.c_str());
    const int linkError = errno;
    ::unlink(tempPath.c_str());
    if (linked == 0) {
      fd_ = std::exchange(temp.fd, -1);
      removedOnSignal_ = std::make_shared<RemovedOnSignal>(lockPath_);
      RemoveLeftovers(target, lockPath_);
      return;
    }
    if (linkError != EEXIST) Fail("Cannot create the lock file", lockPath_, linkError);

    Descriptor existing{::open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC)};
    if (existing.fd < 0) continue;  // gone meanwhile
    const bool ownersAlive = ::flock(existing.fd, LOCK_EX | LOCK_NB) != 0;
    const LockHolder holder = ParseLockLine(ReadAll(existing.fd));
    const std::string lockName = std::filesystem::path(lockPath_).filename().string();
    if (ownersAlive || (holder.Ours && holder.Host != HostName()))
      throw LinkError(kFileError, "\"" + target + "\" is being calculated by another Tersolv run (" + holder.Name +
                                      ", user " + holder.User + " on " + holder.Host + ", since " + holder.Date +
                                      "); try again when it has finished");
    if (!holder.Ours && (holder.Host != HostName() || holder.User != UserName() || OpenElsewhere(target)))
      throw LinkError(kFileError, "\"" + target + "\" is open in LibreOffice or another program (locked by user " +
                                      holder.User + " on " + holder.Host + " since " + holder.Date +
                                      "); close it there first (if no program has it open, remove the lock file \"" +
                                      lockName + "\" beside it)");
    // A stale lock: its holder is gone. Removed while we hold it, and only
    // when it is still the file in place.
    if (SameInode(existing.fd, lockPath_)) ::unlink(lockPath_.c_str());
  }
  throw LinkError(kFileError, "Cannot take the lock \"" + lockPath_ + "\": it keeps changing");
}

WorkbookLock::~WorkbookLock() {
  if (fd_ < 0) return;
  removedOnSignal_.reset();
  if (SameInode(fd_, lockPath_)) ::unlink(lockPath_.c_str());
  ::close(fd_);
}

}  // namespace tersolv::link::book
