#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Tersolv with warnings as errors and
# runs every test. Options: --sanitize (ASan + UBSan build of the models, the
# reader, the driver and the file backend, in build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc)
if [ "${1:-}" = "--sanitize" ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTERSOLV_WERROR=ON -DTERSOLV_SANITIZE=ON \
        -DTERSOLV_WITH_QT=OFF -DTERSOLV_WITH_UNO=OFF -DTERSOLV_BUILD_BENCH=OFF
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE 'link|gui'
  exit 0
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERSOLV_WERROR=ON
cmake --build build -j "$jobs"
# The LibreOffice tests drive a real office, which now and then aborts on its own
# (LibreOffice 7.4 headless): a failed test program gets one more run.
ctest --test-dir build --output-on-failure -j "$jobs" --repeat until-pass:2
