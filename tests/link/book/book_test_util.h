// Helpers of the workbook-file tests: a private temporary folder, whole-file
// reads and writes, and the parts of an .xlsx package.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "link/book/book_limits.h"
#include "link/book/zip_archive.h"

namespace tersolv::link::book::testing {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tersolv-book-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// One unpacked part of the .xlsx file at `path` ("" when missing).
inline std::string PartOf(const std::string& path, const std::string& part) {
  ZipArchive zip(ReadFile(path), path, Limits{});
  return zip.Has(part) ? zip.Read(part) : std::string();
}

// The .xlsx bytes with parts replaced, added or (given as "\x01") removed.
inline std::string EditPackage(const std::string& bytes, const std::map<std::string, std::string>& edits) {
  ZipArchive zip(bytes, "package", Limits{});
  std::map<std::string, std::string> replaced;
  std::set<std::string> removed;
  for (const auto& [name, data] : edits) {
    if (data == "\x01")
      removed.insert(name);
    else
      replaced[name] = data;
  }
  return zip.Write(replaced, removed);
}

inline std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
  return n;
}

}  // namespace tersolv::link::book::testing
