// A scripted main window and user for the shell's tests, and a scratch
// folder tree: program folder, home folder and a data folder.
#pragma once

#include <unistd.h>

#include <array>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/memory/memory.h"
#include "shell/shell.h"
#include "shell/window.h"

namespace tersolv::shell::testing {

using link::MessageIcon;

class FakeWindow : public Window {
 public:
  std::string caption = "Tersolv";
  std::vector<std::string> captions;  // every caption set, in order
  int height = kDesignHeight;
  bool enabled[3] = {true, true, true};
  bool separator = true;
  std::string credit;
  bool topmost = false, shown = false, closed = false;
  Shell* shell = nullptr;  // receives Form_Resize

  std::string Caption() const override { return caption; }
  void SetCaption(const std::string& c) override {
    caption = c;
    captions.push_back(c);
  }
  int Height() const override { return height; }
  void SetHeight(int twips) override {
    const bool changed = twips != height;
    height = twips;
    if (changed && shell != nullptr) shell->Form_Resize();
  }
  bool ButtonEnabled(int index) const override { return enabled[index]; }
  void SetButtonEnabled(int index, bool on) override { enabled[index] = on; }
  void SetSeparatorVisible(bool visible) override { separator = visible; }
  void SetCreditCaption(const std::string& c) override { credit = c; }
  void MakeTopmost() override { topmost = true; }
  void Show() override { shown = true; }
  void Close() override { closed = true; }

  bool Read() const {  // whether the reader ran since captions was cleared
    for (const auto& c : captions) {
      if (c == "Reading data...") return true;
    }
    return false;
  }
};

struct Message {
  MessageIcon icon;
  std::string text;
};

class ScriptedPrompter : public Prompter {
 public:
  std::vector<Message> messages;
  std::vector<FileRequest> requests;
  // Answers of the file dialog, in order: a full path, or nothing (cancel).
  std::deque<std::optional<std::string>> answers;
  int processed = 0;
  std::function<void(const Message&)> onMessage;  // runs inside the message box

  void ShowMessage(MessageIcon icon, const std::string& text) override {
    messages.push_back({icon, text});
    if (onMessage) onMessage(messages.back());
  }
  std::optional<std::string> ChooseFile(const FileRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected file dialog";
      return std::nullopt;
    }
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ProcessEvents() override { ++processed; }

  bool Shown(const std::string& text) const {
    for (const auto& m : messages) {
      if (m.text == text) return true;
    }
    return false;
  }
};

// A fresh folder tree under the system's temporary folder, removed at the end.
class ScratchFolders {
 public:
  ScratchFolders() {
    namespace fs = std::filesystem;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root = fs::temp_directory_path() / ("tersolv-shell-" + std::string(info->test_suite_name()) + "-" +
                                        info->name() + "-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "prog");
    fs::create_directories(root / "home" / "data");
    fs::create_directories(root / "home" / "other");
    root = fs::canonical(root);
    Program = (root / "prog").string() + "/";
    Home = (root / "home").string() + "/";
    Data = Home + "data/";
    Other = Home + "other/";
  }
  ~ScratchFolders() {
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
    std::filesystem::remove_all(root, ec);
  }
  static void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::filesystem::path root;
  std::string Program, Home, Data, Other;
};

// Fills the active workbook of `app` with a "Ternary system" sheet holding
// the given points (t in C, p in MPa, m(H2S), m(NaCl)).
inline std::shared_ptr<link::memory::MemorySheet> AddTernarySheet(
    link::memory::MemoryApplication& app, const std::vector<std::array<double, 4>>& points) {
  auto sheet = app.AddSheet("Ternary system");
  sheet->SetText(1, 1, "H2S + NaCl + H2O");
  sheet->SetText(2, 1, "System definitions");
  sheet->SetText(3, 1, "T, C");
  sheet->SetText(3, 2, "P, MPa");
  sheet->SetText(3, 3, "m(H2S)");
  sheet->SetText(3, 4, "m(NaCl)");
  int row = 4;
  for (const auto& p : points) {
    for (int c = 0; c < 4; ++c) sheet->SetNumber(row, c + 1, p[static_cast<std::size_t>(c)]);
    ++row;
  }
  return sheet;
}

}  // namespace tersolv::shell::testing
