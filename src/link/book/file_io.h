// File access of the workbook-file backend: reading a whole file under a size
// limit, recognising a file that changed on disk, and replacing a file safely
// (a temporary file beside the target, renamed over it only when complete).
#pragma once

#include <cstdint>
#include <string_view>
#include <string>

#include "link/book/byte_buffer.h"

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
// The same in a ByteBuffer (big pages for a big file).
ByteBuffer ReadFileBytes(const std::string& path, std::uint64_t maxBytes, FileStamp* stamp = nullptr);

// Replaces (or creates) the file at `path` with `bytes`: they go into a
// temporary file beside the target, which is renamed over it once it is
// complete on disk; on any failure the target is left as it was (LinkError,
// kFileError). Keeps the permission bits of an existing target and writes
// through a symbolic link to its file.
void ReplaceFile(const std::string& path, std::string_view bytes);

// The absolute, normalised form of `path` (symbolic links resolved when the
// file exists).
std::string FullPath(const std::string& path);

}  // namespace tersolv::link::book
