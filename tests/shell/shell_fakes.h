// A scripted main window and user for the shell's tests, and a scratch folder
// tree (program folder, home folder, two data folders and an empty one).
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "link/memory/memory.h"
#include "shell/shell.h"

namespace tersolv::shell::testing {

struct FakeWindow : Window {
  std::string caption = "Tersolv", credit;
  std::vector<std::string> captions;  // every caption set, in order
  int height = kDesignHeight;
  bool enabled[3] = {true, true, true}, separator = true, topmost = false, shown = false, closed = false;
  Shell* shell = nullptr;  // receives Form_Resize

  std::string Caption() const override { return caption; }
  void SetCaption(const std::string& c) override { captions.push_back(caption = c); }
  int Height() const override { return height; }
  void SetHeight(int twips) override { height = twips; if (shell != nullptr) shell->Form_Resize(); }
  bool ButtonEnabled(int i) const override { return enabled[i]; }
  void SetButtonEnabled(int i, bool on) override { enabled[i] = on; }
  void SetSeparatorVisible(bool visible) override { separator = visible; }
  void SetCreditCaption(const std::string& c) override { credit = c; }
  void MakeTopmost() override { topmost = true; }
  void Show() override { shown = true; }
  void Close() override { closed = true; }
  // How often (whether) the reader ran since `captions` was cleared.
  long Reads() const { return std::count(captions.begin(), captions.end(), "Reading data..."); }
  bool Read() const { return Reads() > 0; }
};

struct ScriptedPrompter : Prompter {
  std::vector<std::pair<link::MessageIcon, std::string>> messages;
  std::vector<FileRequest> requests;
  std::deque<std::optional<std::string>> answers;  // of the file dialog: a path, or nothing (cancel)
  int processed = 0;
  std::function<void()> onMessage;  // runs while the message box is up
  std::function<void()> onProcess;  // runs in every pass of pending events

  void ShowMessage(link::MessageIcon icon, const std::string& text) override {
    messages.emplace_back(icon, text);
    if (onMessage) onMessage();
  }
  std::optional<std::string> ChooseFile(const FileRequest& request) override {
    requests.push_back(request);
    std::optional<std::string> answer;  // none left: the user cancels
    if (!answers.empty()) { answer = answers.front(); answers.pop_front(); }
    return answer;
  }
  void ProcessEvents() override {
    ++processed;
    if (onProcess) onProcess();
  }
  std::string Last() const { return messages.empty() ? "" : messages.back().second; }
};

struct ScratchFolders {
  ScratchFolders() {
    std::string name = (std::filesystem::temp_directory_path() / "tersolv-shell-XXXXXX").string();
    root = std::filesystem::canonical(::mkdtemp(name.data()));
    for (auto d : {"prog", "home/data", "home/other", "home/empty"}) std::filesystem::create_directories(root / d);
    Program = (root / "prog/").string();
    Home = (root / "home/").string();
    Data = Home + "data/";
    Other = Home + "other/";
  }
  ~ScratchFolders() {
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
    std::filesystem::remove_all(root, ec);
  }
  static void Write(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }
  static std::string Read(const std::string& p) { std::ostringstream s; s << std::ifstream(p).rdbuf(); return s.str(); }
  // The shell's surroundings: these folders, and `start` for the office.
  Environment Env(std::function<std::unique_ptr<link::Application>()> start) const {
    return {Program, Home, /*ConfigHome=*/"", /*CommandLine=*/"", '.', std::move(start)};
  }
  std::filesystem::path root;
  std::string Program, Home, Data, Other;
};

// A "Ternary system" sheet in the active workbook with points (t in C, p in MPa, m(H2S), m(NaCl)).
inline void AddTernarySheet(link::memory::MemoryApplication& app, const std::vector<std::array<double, 4>>& points) {
  auto sheet = app.AddSheet("Ternary system");
  sheet->SetText(2, 1, "System definitions");
  const char* headers[] = {"T, C", "P, MPa", "m(H2S)", "m(NaCl)"};
  for (std::size_t c = 0; c < 4; ++c) {
    const int column = static_cast<int>(c) + 1;
    sheet->SetText(3, column, headers[c]);
    for (std::size_t r = 0; r < points.size(); ++r) sheet->SetNumber(static_cast<int>(r) + 4, column, points[r][c]);
  }
}

}  // namespace tersolv::shell::testing
