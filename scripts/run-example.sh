#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Tersolv and runs it on the bundled
# example.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target water_example
./build/bin/water_example
