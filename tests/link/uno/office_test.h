// The fixture of the Calc link tests: the shared office running, a fresh
// application attached to it with no document open, and a folder of its own
// for the test's files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "link/uno/calc_application.h"
#include "office_fixture.h"

namespace tersolv::link::uno::testing {

class OfficeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = OfficeMissing(); !missing.empty()) GTEST_SKIP() << missing;
    folder_ = std::filesystem::path(::testing::TempDir()) / ("tersolv-calc-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    TestOffice::Shared().EnsureRunning();
    app_ = TestOffice::Shared().Attach();
    TestOffice::CloseAllDocuments(*app_);
  }
  void TearDown() override {
    app_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path folder_;
  std::unique_ptr<CalcApplication> app_;
};

}  // namespace tersolv::link::uno::testing
