// The event bridge between the main window and the spreadsheet.
//
// It turns the main window's activation changes into the events Activated and
// Deactivated, remembers in xlChanged that the watched worksheet changed, and
// switches the spreadsheet application's event delivery on and off.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "link/link.h"

namespace tersolv::shell {

class Class1 {
 public:
  // `application` gives the spreadsheet application (may give nullptr before
  // it is started); `ErrorCode` is the program's shared status, which
  // receives -1 when switching the event delivery fails.
  Class1(std::function<link::Application*()> application, std::int16_t& ErrorCode);
  ~Class1();
  Class1(const Class1&) = delete;
  Class1& operator=(const Class1&) = delete;

  // True once the watched sheet's contents changed since it was last cleared.
  bool xlChanged = false;

  // The worksheet whose changes are watched (nullptr: none).
  const std::shared_ptr<link::Worksheet>& Sheet() const { return sheet_; }
  void SetSheet(std::shared_ptr<link::Worksheet> sheet);

  // State >= 1 raises Activated, State < 0 raises Deactivated, 0 nothing.
  void RaiseEvents(std::int16_t State);

  // Switches the application's event delivery; does nothing while no sheet
  // is watched. A failure sets ErrorCode to -1 and shows nothing.
  void xlEvents(bool value);

  // The change notification of Sheet.
  void Sheet_Change(const link::CellRange& Target);

  // Handlers of the two events.
  std::function<void()> Activated;
  std::function<void()> Deactivated;

 private:
  std::function<link::Application*()> application_;
  std::int16_t& errorCode_;
  std::shared_ptr<link::Worksheet> sheet_;
};

}  // namespace tersolv::shell
