// The subcommands of `tersolv`. Each lives in its own source file and
// registers itself on the application with one Add...Command function, called
// from main.cpp. A command that fails throws CLI::RuntimeError with one of
// the exit codes below (it prints its own message first).
#pragma once

#include <CLI/CLI.hpp>

namespace tersolv::app {

// Exit codes of every subcommand (listed in `tersolv --help`).
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;     // bad command line
inline constexpr int kExitRejected = 3;  // the input was rejected by the worksheet checks
inline constexpr int kExitRuntime = 4;   // a run-time error of the calculation
inline constexpr int kExitLink = 5;      // a spreadsheet or file could not be read or written

inline constexpr const char* kExitCodesHelp =
    "Exit codes: 0 success; 2 bad command line; 3 input rejected by the worksheet checks;\n"
    "4 run-time error of the calculation; 5 spreadsheet or file error.";

// `tersolv point T P [MH2S MNACL]`: one state point on the command line.
void AddPointCommand(CLI::App& app);
// `tersolv calc BOOK`: the whole workbook file calculated and saved.
void AddCalcCommand(CLI::App& app);
// `tersolv new BOOK`: a new data file from the template.
void AddNewCommand(CLI::App& app);

}  // namespace tersolv::app
