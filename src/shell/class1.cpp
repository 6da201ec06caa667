#include "shell/class1.h"

#include <exception>
#include <utility>

namespace tersolv::shell {

Class1::Class1(std::function<link::Application*()> application, std::int16_t& ErrorCode)
    : application_(std::move(application)), errorCode_(ErrorCode) {}

Class1::~Class1() {
  try {
    SetSheet(nullptr);
  } catch (...) {
    // The application may be gone; nothing is left to unhook then.
  }
}

void Class1::SetSheet(std::shared_ptr<link::Worksheet> sheet) {
  if (sheet_ == sheet) return;
  if (sheet_) sheet_->SetChangeHandler({});
  sheet_ = std::move(sheet);
  if (sheet_) sheet_->SetChangeHandler([this](const link::CellRange& Target) { Sheet_Change(Target); });
}

void Class1::RaiseEvents(std::int16_t State) {
  // The handler may release this bridge (the program ends), so it runs
  // from a copy.
  std::function<void()> handler;
  if (State >= 1) {
    handler = Activated;
  } else if (State < 0) {
    handler = Deactivated;
  }
  if (handler) handler();
}

void Class1::xlEvents(bool value) {
  if (!sheet_) return;
  try {
    link::Application* app = application_ ? application_() : nullptr;
    if (app == nullptr) throw link::LinkError(link::kApplicationGone, "no spreadsheet application");
    app->SetEventsEnabled(value);
  } catch (const std::exception&) {
    errorCode_ = -1;
  }
}

void Class1::Sheet_Change(const link::CellRange& /*Target*/) { xlChanged = true; }

}  // namespace tersolv::shell
