#include "link/book/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
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

ByteBuffer ReadFileBytes(const std::string& path, std::uint64_t maxBytes, FileStamp* stamp) {
  return ReadBytes<ByteBuffer>(path, maxBytes, stamp);
}

std::string FullPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) return path;
  auto canonical = std::filesystem::weakly_canonical(p, ec);
  return ec ? p.lexically_normal().string() : canonical.string();
}

void ReplaceFile(const std::string& path, std::string_view bytes) {
  const std::filesystem::path target = FullPath(path);
  const std::filesystem::path folder = target.parent_path();
  std::string leaf = ".";  // appended piecewise: GCC 12 -O3 warns falsely (-Wrestrict) about "." + string
  leaf.append(target.filename().string()).append(".tersolv-XXXXXX");
  std::string pattern = (folder / leaf).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  Descriptor temp{::mkstemp(name.data())};
  if (temp.fd < 0) Fail("Cannot create a temporary file in", folder.string(), errno);
  const std::string tempPath(name.data());
  try {
    struct stat st {};
    mode_t mode = 0666;
    if (::stat(target.c_str(), &st) == 0) {
      mode = st.st_mode & 07777;
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode &= ~mask;
    }
    if (::fchmod(temp.fd, mode) != 0) Fail("Cannot set the permissions of", tempPath, errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(temp.fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail("Cannot write", tempPath, n < 0 ? errno : EIO);
      done += static_cast<std::size_t>(n);
    }
    if (::fsync(temp.fd) != 0) Fail("Cannot write", tempPath, errno);
    if (::rename(tempPath.c_str(), target.c_str()) != 0) Fail("Cannot replace", target.string(), errno);
  } catch (...) {
    ::unlink(tempPath.c_str());
    throw;
  }
  Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd >= 0) ::fsync(dir.fd);
}

}  // namespace tersolv::link::book
