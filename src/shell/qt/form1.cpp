#include "shell/qt/form1.h"

#include <algorithm>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QMessageBox>
#include <QPalette>

#include "shell/shell.h"

namespace tersolv::shell {

namespace {

constexpr int Px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

QString Q(const std::string& text) { return QString::fromStdString(text); }

QFrame* MakeLine(QWidget* parent, int topTwips, QPalette::ColorRole role) {
  auto* line = new QFrame(parent);
  line->setGeometry(0, Px(topTwips), Form1::kClientWidth, 1);
  line->setAutoFillBackground(true);
  QPalette palette = line->palette();
  palette.setColor(QPalette::Window, parent->palette().color(role));
  line->setPalette(palette);
  return line;
}

}  // namespace

Form1::Form1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setWindowTitle("Tersolv");
  struct ButtonLayout {
    const char* caption;
    int top;
  };
  static constexpr ButtonLayout kButtons[3] = {
      {"Create &new data file", 120}, {"&Open existing data file", 600}, {"&Calculate values", 1230}};
  for (int i = 0; i < 3; ++i) {
    auto* button = new QPushButton(QString::fromUtf8(kButtons[i].caption), this);
    button->setGeometry(Px(120), Px(kButtons[i].top), Px(2895), Px(375));
    connect(button, &QPushButton::clicked, this, [this, i] {
      if (shell_ != nullptr) shell_->Button_Click(i);
    });
    buttons_[static_cast<std::size_t>(i)] = button;
  }
  line1_ = MakeLine(this, 1080, QPalette::Dark);   // button shadow
  line2_ = MakeLine(this, 1095, QPalette::Light);  // button highlight

  crt_ = new QLabel(this);
  QFont font("Tahoma");
  font.setPointSizeF(8.25);
  crt_->setFont(font);
  crt_->setGeometry(Px(240), Px(1690), Px(2655), Px(255));

  setFixedSize(kClientWidth, kClientHeight);
}

std::string Form1::Caption() const { return windowTitle().toStdString(); }
void Form1::SetCaption(const std::string& caption) { setWindowTitle(Q(caption)); }

int Form1::Height() const { return height() * kTwipsPerPixel + kFrameTwips; }

void Form1::SetHeight(int twips) {
  const int client = std::max(1, Px(twips - kFrameTwips));
  setFixedSize(kClientWidth, client);
  // What the height cuts off cannot be reached either (nor by its access key).
  for (QWidget* below : {static_cast<QWidget*>(Button(2)), static_cast<QWidget*>(crt_)}) {
    below->setVisible(below->geometry().bottom() < client);
  }
}

bool Form1::ButtonEnabled(int index) const { return Button(index)->isEnabled(); }
void Form1::SetButtonEnabled(int index, bool enabled) { Button(index)->setEnabled(enabled); }

void Form1::SetSeparatorVisible(bool visible) {
  line1_->setVisible(visible);
  line2_->setVisible(visible);
}

void Form1::SetCreditCaption(const std::string& caption) { crt_->setText(QString::fromLatin1(caption.c_str())); }

void Form1::MakeTopmost() { setWindowFlag(Qt::WindowStaysOnTopHint, true); }

namespace {
constexpr const char* kPlaceKey = "window/position";
}  // namespace

QSettings Form1::PlaceSettings() { return QSettings(QSettings::IniFormat, QSettings::UserScope, "tersolv", "panel"); }

void Form1::Show() {
  const QPoint kept = PlaceSettings().value(kPlaceKey).toPoint();
  const bool known = PlaceSettings().contains(kPlaceKey) && QGuiApplication::screenAt(kept) != nullptr;
  if (known) move(kept);
  show();
  raise();
  activateWindow();
  if (known) return;
  PlaceTopRight();
  // The window manager adds its frame after the window is shown: once its
  // size is known, the frame's right edge is put on the screen's edge.
  QTimer::singleShot(250, this, [this] { PlaceTopRight(); });
}

void Form1::PlaceTopRight() {
  const QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  move(area.x() + area.width() - frameGeometry().width(), area.y());
}

void Form1::Close() {
  if (closing_) return;
  closing_ = true;
  close();
}

void Form1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && shell_ != nullptr) {
    shell_->MainWindowProc(isActiveWindow() ? 1 : -1);
  }
}

void Form1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (shell_ != nullptr) shell_->Form_Resize();
}

void Form1::closeEvent(QCloseEvent* event) {
  closing_ = true;
  if (isVisible()) PlaceSettings().setValue(kPlaceKey, pos());
  if (shell_ != nullptr) shell_->Unload();
  event->accept();
}

// ------------------------------------------------------------- QtPrompter

void QtPrompter::ShowMessage(link::MessageIcon icon, const std::string& text) {
  QMessageBox::Icon kind = QMessageBox::NoIcon;
  switch (icon) {
    case link::MessageIcon::Information:
      kind = QMessageBox::Information;
      break;
    case link::MessageIcon::Warning:
      kind = QMessageBox::Warning;
      break;
    case link::MessageIcon::Error:
      kind = QMessageBox::Critical;
      break;
    case link::MessageIcon::None:
      break;
  }
  QMessageBox box(kind, "Tersolv", Q(text), QMessageBox::Ok, owner_);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
}

std::optional<std::string> QtPrompter::ChooseFile(const FileRequest& request) {
  const QString start = QDir(Q(request.InitialFolder)).filePath(Q(request.FileName));
  const QString filter = Q(request.FilterName) + " (" + Q(request.Pattern) + ");;All files (*)";
  const QString chosen = QFileDialog::getOpenFileName(owner_, Q(request.Title), start, filter);
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

// Clicks and keys wait for the event loop: a button pressed while a command
// runs is handled after it, not dropped by the shell's re-entry guard.
void QtPrompter::ProcessEvents() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

}  // namespace tersolv::shell
