// The check every test of the spreadsheet link makes of a failure: the link's own error, of the
// expected number, with a description that says what went wrong.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "link/link.h"

namespace tersolv::link {

// `call` fails with a LinkError of that number whose description holds each of `parts`.
inline void ExpectLinkError(int number, const std::function<void()>& call,
                            std::initializer_list<std::string> parts = {}) {
  try {
    call();
    ADD_FAILURE() << "no LinkError";
  } catch (const LinkError& e) {
    EXPECT_EQ(e.Number(), number) << e.what();
    EXPECT_FALSE(e.Description().empty());
    for (const std::string& part : parts) EXPECT_NE(e.Description().find(part), std::string::npos) << e.what();
  }
}

}  // namespace tersolv::link
