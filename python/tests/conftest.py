"""What the package's tests share: the command-line program to compare with."""

import json
import os
import subprocess


def run_point(*args):
    """`tersolv point ARGS --json`: (exit code, the JSON object or None, stderr)."""
    done = subprocess.run([os.environ["TERSOLV_EXE"], "point", *map(str, args), "--json"],
                          capture_output=True, text=True, check=False)
    return done.returncode, (json.loads(done.stdout) if done.returncode == 0 else None), done.stderr
