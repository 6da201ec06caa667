// The front end of the command line: no window, so the caption and height are
// only remembered; message boxes go to stderr (information messages only
// when asked for), or are kept for the caller.
#pragma once

#include <iostream>
#include <string>
#include <vector>

#include "link/frontend.h"

namespace tersolv::app {

class ConsoleFrontend : public link::Frontend {
 public:
  // printInformation: also print information messages ("Number of points: ").
  // printErrors: print error and warning messages to stderr at once;
  // otherwise they are only kept in Errors.
  ConsoleFrontend(bool printInformation, bool printErrors)
      : printInformation_(printInformation), printErrors_(printErrors) {}

  std::string Caption() const override { return caption_; }
  void SetCaption(const std::string& caption) override { caption_ = caption; }
  void SetExpanded(bool) override {}
  void ShowMessage(link::MessageIcon icon, const std::string& text) override {
    const bool error = icon == link::MessageIcon::Error || icon == link::MessageIcon::Warning;
    if (error) Errors.push_back(text);
    if ((error && printErrors_) || (!error && printInformation_)) std::cerr << text << '\n';
  }
  void ProcessEvents() override {}
  void WatchSheet(std::shared_ptr<link::Worksheet>) override {}
  void SetChanged(bool) override {}

  std::vector<std::string> Errors;

 private:
  std::string caption_ = "Tersolv";
  bool printInformation_;
  bool printErrors_;
};

}  // namespace tersolv::app
