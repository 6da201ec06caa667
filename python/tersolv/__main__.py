"""The package's commands from the shell: ``python3 -m tersolv COMMAND ...``.

Each command lives in a module of the package that provides
``add_command(commands)``: it adds its parser to the ``commands`` subparsers and
sets ``run`` (a function of the parsed arguments that returns the exit code) as
the parser's default. A new command is one more name in COMMANDS.

Exit codes, as for the ``tersolv`` program: 0 success, 2 bad command line,
3 input rejected, 5 file error.
"""

import argparse
import importlib
import sys

# Modules of the package that add a command, in the order --help lists them.
COMMANDS = ("plot", "validate")


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m tersolv",
        description="Tersolv: thermodynamic properties of water + H2S + NaCl, from Python.")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)
    for name in COMMANDS:
        importlib.import_module(f"{__package__}.{name}").add_command(commands)
    arguments = parser.parse_args(argv)
    return arguments.run(arguments)


if __name__ == "__main__":
    sys.exit(main())
