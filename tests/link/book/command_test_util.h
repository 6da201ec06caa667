// Runs the tersolv executable in the tests of its workbook commands.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "link/book/book_test_util.h"

namespace tersolv::link::book::testing {

struct RunResult {
  int Exit = -1;         // exit code; -1 when killed by a signal
  std::string Out, Err;  // what it printed
};

// `tersolv ARGS` (ARGS already quoted for the shell), in `folder`.
inline RunResult RunTersolv(const TempFolder& folder, const std::string& args) {
  const std::string out = folder / ".stdout", err = folder / ".stderr";
  const std::string command = "cd '" + folder.Path().string() + "' && '" TERSOLV_EXE "' " + args + " >'" + out +
                              "' 2>'" + err + "' </dev/null";
  const int status = std::system(command.c_str());
  RunResult result;
  if (WIFEXITED(status)) result.Exit = WEXITSTATUS(status);
  // The shell reports a child killed by a signal as 128 + the signal.
  if (result.Exit > 128) result.Exit = -1;
  result.Out = ReadFile(out);
  result.Err = ReadFile(err);
  return result;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace tersolv::link::book::testing
