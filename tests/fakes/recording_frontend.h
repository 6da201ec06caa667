// A front end for tests: records the caption, the window's height, message
// boxes, passes of pending events, the watched sheet and the change flag.
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

  std::string Caption() const override { return Captions.empty() ? "Tersolv" : Captions.back(); }
  void SetCaption(const std::string& caption) override { Captions.push_back(caption); }
  void SetExpanded(bool expanded) override { Expanded = expanded; }
  void ShowMessage(link::MessageIcon icon, const std::string& text) override { Messages.push_back({icon, text}); }
  void ProcessEvents() override { ++EventPasses; }
  void WatchSheet(std::shared_ptr<link::Worksheet> sheet) override { Watched = std::move(sheet); }
  void SetChanged(bool changed) override { Changed = changed; }

  // The text of the last message box ("" if none).
  std::string LastMessage() const { return Messages.empty() ? "" : Messages.back().Text; }

  std::optional<bool> Expanded;  // unset until the first SetExpanded
  std::vector<std::string> Captions;
  std::vector<Message> Messages;
  int EventPasses = 0;
  std::shared_ptr<link::Worksheet> Watched;
  bool Changed = true;
};

}  // namespace tersolv::fakes
