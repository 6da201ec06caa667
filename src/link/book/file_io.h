// File access of the workbook-file backend: reading a whole file under a size
// limit, recognising a file that changed on disk, and replacing a file safely
// (a temporary file beside the target, renamed over it only when complete).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <string>


namespace tersolv::link::book {

// What identifies one version of a file on disk.
struct FileStamp {
  std::uint64_t Device = 0, Inode = 0, Size = 0;
  std::int64_t ModifiedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// Stamp of the file at `path`; LinkError (kFileError) when it cannot be read.
FileStamp StampOf(const std::string& path);

// The bytes of the regular file at `path`, with its stamp. LinkError
// (kFileError) when it is missing, not a regular file, unreadable or larger
// than `maxBytes`.
std::string ReadWholeFile(const std::string& path, std::uint64_t maxBytes, FileStamp* stamp = nullptr);

// Replaces (or creates) the file at `path` with `bytes`: they go into a
// temporary file beside the target, which is renamed over it once it is
// complete on disk; on any failure the target is left as it was (LinkError,
// kFileError). An existing target keeps its owner, group and permission bits
// (refused when they cannot be kept) and must be a writable regular file
// (symbolic links are followed to it). With `expected`, the target's stamp
// is compared again right before the rename: a file changed meanwhile is
// not overwritten. The temporary file is removed when SIGINT, SIGTERM or
// SIGHUP ends the process meanwhile.
void ReplaceFile(const std::string& path, std::string_view bytes, const FileStamp* expected = nullptr);

// LinkError (kFileError) unless ReplaceFile may replace the file at `path`
// (absent, or a regular file that is not read-only).
void CheckReplaceable(const std::string& path);

// The lock of a workbook file for a run that may save it: LibreOffice's own
// lock file ".~lock.NAME#" beside it, the line "name,user,host,date,profile;"
// that Calc writes and respects (a Calc that opens the file meanwhile offers
// it read-only), kept under flock by this process so that a later run tells
// a live holder from a dead one. Taking it removes what dead runs left
// beside the file (a stale lock, temporary files of an interrupted save).
class WorkbookLock {
 public:
  // LinkError (kFileError) naming the holder when a live run or program
  // holds the lock, or when the lock file cannot be created.
  explicit WorkbookLock(const std::string& path);
  ~WorkbookLock();
  WorkbookLock(const WorkbookLock&) = delete;
  WorkbookLock& operator=(const WorkbookLock&) = delete;
  const std::string& LockPath() const { return lockPath_; }

 private:
  std::string lockPath_;
  int fd_ = -1;
  std::shared_ptr<void> removedOnSignal_;
};

// The lock file's path for the file at `path` (".~lock.NAME#" beside it).
std::string LockFilePath(const std::string& path);

// The absolute, normalised form of `path` (symbolic links resolved when the
// file exists).
std::string FullPath(const std::string& path);

}  // namespace tersolv::link::book
