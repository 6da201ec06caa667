#include "shell/routines.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace tersolv::shell {

namespace fs = std::filesystem;

std::string WithTrailingSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string SettingsFilePath(const std::string& ProgramFolder, const std::string& configHome,
                             const std::string& home) {
  const std::string folder = WithTrailingSlash(ProgramFolder);
  if (!folder.empty() && ::access(folder.c_str(), W_OK) == 0) return folder + kSettingsFileName;
  std::string base = configHome;
  if (base.empty() || base.front() != '/') base = WithTrailingSlash(home) + ".config";
  return WithTrailingSlash(base) + "tersolv/" + kSettingsFileName;
}

namespace {

std::string Trim(const std::string& text) {
  const auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; };
  std::size_t first = 0, last = text.size();
  while (first < last && blank(static_cast<unsigned char>(text[first]))) ++first;
  while (last > first && blank(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

}  // namespace

std::optional<std::string> ReadWorkDir(const std::string& settingsPath) {
  std::ifstream in(settingsPath);
  if (!in) return std::nullopt;
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  static constexpr std::string_view kKey = "WorkDir=";
  if (line.compare(0, kKey.size(), kKey) != 0) return std::nullopt;
  return Trim(line.substr(kKey.size()));
}

bool WriteWorkDir(const std::string& settingsPath, const std::string& WorkFolder) {
  std::error_code ec;
  const fs::path path(settingsPath);
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  std::ofstream out(settingsPath, std::ios::trunc);
  if (!out) return false;
  out << "WorkDir=" << WorkFolder << '\n';
  out.close();
  return static_cast<bool>(out);
}

bool HasOrdinaryFiles(const std::string& folder) {
  if (folder.empty() || folder.back() != '/') return false;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return false;
  for (const fs::directory_entry& entry : it) {
    std::error_code typeError;
    if (entry.is_regular_file(typeError)) return true;
  }
  return false;
}

bool SamePath(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ea, eb;
  const fs::path ca = fs::weakly_canonical(fs::path(a), ea);
  const fs::path cb = fs::weakly_canonical(fs::path(b), eb);
  const auto plain = [](const fs::path& p) {
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  };
  return plain(ea ? fs::path(a) : ca) == plain(eb ? fs::path(b) : cb);
}

void UnscrambleText(std::string& text) {
  unsigned key = 32;
  for (char& c : text) {
    key ^= static_cast<unsigned char>(c);
    c = static_cast<char>(static_cast<unsigned char>(key));
  }
}

std::string ScrambleText(const std::string& text) {
  std::string out = text;
  unsigned key = 32;
  for (char& c : out) {
    const unsigned plain = static_cast<unsigned char>(c);
    c = static_cast<char>(static_cast<unsigned char>(key ^ plain));
    key = plain;
  }
  return out;
}

bool ExtendedRangeSwitch(const std::string& commandLine) {
  std::string lower = commandLine;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if ((lower + "/").find("/ie/") != std::string::npos) return true;
  std::istringstream words(commandLine);
  std::string word;
  while (words >> word) {
    if (word == "--extended-range") return true;
  }
  return false;
}

}  // namespace tersolv::shell
