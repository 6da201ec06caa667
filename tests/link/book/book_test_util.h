// Helpers of the workbook-file tests: a private temporary folder, whole-file
// reads and writes, the parts of an .xlsx package, and running `tersolv`.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "link/book/book_application.h"
#include "link/book/book_limits.h"
#include "link/book/writer/workbook_writer.h"
#include "link/book/zip_archive.h"
#include "link/link_error_check.h"

namespace tersolv::link::book::testing {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tersolv-book-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() { std::error_code ec; std::filesystem::remove_all(path_, ec); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// One unpacked part of the .xlsx file at `path` ("" when missing).
inline std::string PartOf(const std::string& path, const std::string& part) {
  ZipArchive zip(ReadFile(path), path, Limits{});
  return zip.Has(part) ? zip.Read(part) : std::string();
}

// The .xlsx bytes with parts replaced, added or (given as "\x01") removed.
inline std::string EditPackage(const std::string& bytes, const std::map<std::string, std::string>& edits) {
  std::map<std::string, std::string> replaced = edits;
  std::set<std::string> removed;
  std::erase_if(replaced, [&](const auto& edit) { return edit.second == "\x01" && removed.insert(edit.first).second; });
  return ZipArchive(bytes, "package", Limits{}).Write(replaced, removed);
}

// Replaces, adds or removes parts of the .xlsx file at `path`, as EditPackage does.
inline void EditParts(const std::string& path, const std::map<std::string, std::string>& edits) {
  WriteFile(path, EditPackage(ReadFile(path), edits));
}

// The workbook at `path`, opened read-only.
inline std::unique_ptr<BookApplication> OpenedFile(const std::string& path) {
  auto app = std::make_unique<BookApplication>();
  app->OpenWorkbook(path, true);
  return app;
}

// A worksheet part of these rows (<row> elements).
inline std::string WorksheetPart(const std::string& rows) {
  return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" + rows +
         "</sheetData></worksheet>";
}

// A "Ternary system" sheet of these points, below the three heading rows.
inline NewSheet PointSheet(const std::vector<std::vector<NewValue>>& points) {
  NewSheet sheet;
  sheet.Name = "Ternary system";
  const std::string headings[] = {"Title", "System definitions", "T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
  sheet.Rows = {{headings[0]}, {headings[1]}, {headings[2], headings[3], headings[4], headings[5]}};
  sheet.Rows.insert(sheet.Rows.end(), points.begin(), points.end());
  return sheet;
}

inline std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
  return n;
}

#ifdef TERSOLV_EXE
struct RunResult {
  int Exit = -1;         // exit code; -1 when killed by a signal
  std::string Out, Err;  // what it printed
};

// `tersolv ARGS` (ARGS already quoted for the shell), in `folder`; `as`
// runs it through a command such as setpriv.
inline RunResult RunTersolv(const TempFolder& folder, const std::string& args, const std::string& as = "") {
  const std::string out = folder / ".stdout", err = folder / ".stderr";
  const std::string command = "cd '" + folder.Path().string() + "' && " + as + " '" TERSOLV_EXE "' " + args + " >'" +
                              out + "' 2>'" + err + "' </dev/null";
  const int status = std::system(command.c_str());
  const int exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return {exit > 128 ? -1 : exit, ReadFile(out), ReadFile(err)};  // > 128: the shell's report of a signal
}
#endif

}  // namespace tersolv::link::book::testing
