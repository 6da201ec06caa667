// What the worksheet reader and the calculation driver see of the program's
// front end: the main window's caption and height, message boxes, one pass of
// pending user-interface events, and the event bridge's watched sheet and
// change flag. The panel implements it with its window; the command line with
// stderr; tests with a recorder.
#pragma once

#include <memory>
#include <string>

#include "link/link.h"

namespace tersolv::link {

enum class MessageIcon { None, Information, Warning, Error };

class Frontend {
 public:
  virtual ~Frontend() = default;

  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // Collapsed (MinSize) after an error, expanded (MaxSize) after a good read.
  virtual void SetExpanded(bool expanded) = 0;
  // A modal message box (the command line prints it).
  virtual void ShowMessage(MessageIcon icon, const std::string& text) = 0;
  // Lets pending user-interface events be processed once.
  virtual void ProcessEvents() = 0;

  // The event bridge: the sheet whose changes are watched, and the flag
  // that a change of it sets.
  virtual void WatchSheet(std::shared_ptr<Worksheet> sheet) = 0;
  virtual void SetChanged(bool changed) = 0;
};

// A front end that shows nothing and watches nothing: for callers that take
// the outcome from the reader's and the driver's return values and exceptions
// (the Python module, benchmarks).
class SilentFrontend : public Frontend {
 public:
  std::string Caption() const override { return caption_; }
  void SetCaption(const std::string& caption) override { caption_ = caption; }
  void SetExpanded(bool) override {}
  void ShowMessage(MessageIcon, const std::string&) override {}
  void ProcessEvents() override {}
  void WatchSheet(std::shared_ptr<Worksheet>) override {}
  void SetChanged(bool) override {}

 private:
  std::string caption_;
};

}  // namespace tersolv::link
