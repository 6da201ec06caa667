// A front end for tests: records the caption, the window's height, message
// boxes, passes of pending events and the event bridge's state, and keeps a
// log of every call in order.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/frontend.h"

namespace tersolv::fakes {

class RecordingFrontend : public link::Frontend {
 public:
  struct Message {
    link::MessageIcon Icon;
    std::string Text;
  };

  std::string Caption() const override { return caption_; }
  void SetCaption(const std::string& caption) override {
    caption_ = caption;
    Captions.push_back(caption);
    Log.push_back("caption " + caption);
  }
  void SetExpanded(bool expanded) override {
    Expanded = expanded;
    Log.push_back(expanded ? "expand" : "collapse");
  }
  void ShowMessage(link::MessageIcon icon, const std::string& text) override {
    Messages.push_back({icon, text});
    Log.push_back("message " + text);
  }
  void ProcessEvents() override {
    ++EventPasses;
    Log.push_back("events");
  }
  void WatchSheet(std::shared_ptr<link::Worksheet> sheet) override {
    Watched = std::move(sheet);
    Log.push_back("watch");
  }
  void SetChanged(bool changed) override {
    Changed = changed;
    Log.push_back(changed ? "changed" : "unchanged");
  }

  // The text of the last message box ("" if none).
  std::string LastMessage() const { return Messages.empty() ? "" : Messages.back().Text; }

  std::optional<bool> Expanded;  // unset until the first SetExpanded
  std::vector<std::string> Captions;
  std::vector<Message> Messages;
  int EventPasses = 0;
  std::shared_ptr<link::Worksheet> Watched;
  bool Changed = true;
  std::vector<std::string> Log;

 private:
  std::string caption_ = "Tersolv";
};

}  // namespace tersolv::fakes
