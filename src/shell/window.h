// What the shell's logic needs of the main window and of the user: the
// window's caption, height (in twips), buttons, separator and credit label,
// and the message boxes, the open-file dialog and one pass of pending
// user-interface events. The panel implements both with Qt Widgets; tests
// implement them with scripted answers.
#pragma once

#include <optional>
#include <string>

#include "link/frontend.h"

namespace tersolv::shell {

// 15 twips make one pixel at 96 dpi.
inline constexpr int kTwipsPerPixel = 15;

class Window {
 public:
  virtual ~Window() = default;

  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // Outer height of the window, in twips.
  virtual int Height() const = 0;
  virtual void SetHeight(int twips) = 0;
  // Buttons 0 "Create &new data file", 1 "&Open existing data file",
  // 2 "&Calculate values".
  virtual bool ButtonEnabled(int index) const = 0;
  virtual void SetButtonEnabled(int index, bool enabled) = 0;
  // The etched separator (Line1 and Line2).
  virtual void SetSeparatorVisible(bool visible) = 0;
  // The caption of the credit label `crt`.
  virtual void SetCreditCaption(const std::string& caption) = 0;
  // Keeps the window above all others.
  virtual void MakeTopmost() = 0;
  virtual void Show() = 0;
  // Closes the window; the program ends once the event loop sees it.
  virtual void Close() = 0;
};

// The request of one open-file dialog.
struct FileRequest {
  std::string Title;
  std::string FilterName;     // e.g. "Data files"
  std::string Pattern;        // e.g. "*.xlsx *.xls *.ods"
  std::string InitialFolder;  // the folder the dialog starts in
  std::string FileName;       // the file name shown in the name field
};

class Prompter {
 public:
  virtual ~Prompter() = default;

  // A modal message box with the given icon.
  virtual void ShowMessage(link::MessageIcon icon, const std::string& text) = 0;
  // The open-file dialog; the full path of the chosen file, or nothing when
  // the user cancelled.
  virtual std::optional<std::string> ChooseFile(const FileRequest& request) = 0;
  // Lets pending user-interface events be processed once.
  virtual void ProcessEvents() = 0;
};

}  // namespace tersolv::shell
