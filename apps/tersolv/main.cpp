// tersolv: thermodynamic properties of water + H2S + NaCl on the command line.
#include <CLI/CLI.hpp>

#include <iostream>

#include "commands.h"

#ifndef TERSOLV_VERSION
#define TERSOLV_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  CLI::App app{"Tersolv: thermodynamic properties of water + H2S + NaCl.", "tersolv"};
  app.set_version_flag("--version", std::string("tersolv ") + TERSOLV_VERSION);
  app.footer(tersolv::app::kExitCodesHelp);
  app.require_subcommand(1);

  tersolv::app::AddPointCommand(app);
  tersolv::app::AddCalcCommand(app);
  tersolv::app::AddNewCommand(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();  // the command has told what went wrong
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);  // prints help, the version or the error
    return code == 0 ? tersolv::app::kExitOk : tersolv::app::kExitUsage;
  }
  return tersolv::app::kExitOk;
}
