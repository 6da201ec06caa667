// The main window Form1 as a Qt 6 Widgets window: always on top, the three
// command buttons, the etched separator and the credit label. Its logic is
// the Shell's; this class only draws and forwards events to it.
#pragma once

#include <array>
#include <optional>
#include <string>

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QWidget>

#include "shell/window.h"

namespace tersolv::shell {

class Shell;

class Form1 : public QWidget, public Window {
 public:
  // Heights in twips count a classic window frame around the client area:
  // 27 pixels of title bar and borders (405 twips), so that the collapsed
  // height of 1455 twips leaves a client area of 70 pixels, which shows only
  // the two file buttons.
  static constexpr int kFrameTwips = 405;
  static constexpr int kClientWidth = 3120 / kTwipsPerPixel;   // 208 px
  static constexpr int kClientHeight = 2025 / kTwipsPerPixel;  // 135 px

  explicit Form1(QWidget* parent = nullptr);

  // The shell that handles this window's events (not owned).
  void SetShell(Shell* shell) { shell_ = shell; }

  // --- Window ---
  std::string Caption() const override;
  void SetCaption(const std::string& caption) override;
  int Height() const override;
  void SetHeight(int twips) override;
  bool ButtonEnabled(int index) const override;
  void SetButtonEnabled(int index, bool enabled) override;
  void SetSeparatorVisible(bool visible) override;
  void SetCreditCaption(const std::string& caption) override;
  void MakeTopmost() override;
  // Shows the window where the user left it last time, or on the first start
  // (or when that place is on no screen now) in the top-right corner of the
  // screen's available area, clear of the office's menus and Name Box.
  void Show() override;
  void Close() override;

  QPushButton* Button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }
  QLabel* Credit() const { return crt_; }
  // The user's settings of the panel (its place): tersolv/panel.conf in the
  // user's configuration folder; Tersolv.ini keeps only the working folder.
  static QSettings PlaceSettings();
  bool SeparatorVisible() const { return !line1_->isHidden() && !line2_->isHidden(); }

 protected:
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  Shell* shell_ = nullptr;
  std::array<QPushButton*, 3> buttons_{};
  QFrame* line1_ = nullptr;
  QFrame* line2_ = nullptr;
  QLabel* crt_ = nullptr;
  bool closing_ = false;
  void PlaceTopRight();
};

// Message boxes, the open-file dialog and one pass of pending events, with
// Qt's own widgets.
class QtPrompter : public Prompter {
 public:
  explicit QtPrompter(QWidget* owner) : owner_(owner) {}
  void ShowMessage(link::MessageIcon icon, const std::string& text) override;
  std::optional<std::string> ChooseFile(const FileRequest& request) override;
  void ProcessEvents() override;

 private:
  QWidget* owner_;
};

}  // namespace tersolv::shell
