#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Tersolv and runs the main job on a
# copy of the bundled example workbook: `tersolv calc` computes every point of
# its active sheet ("Ternary system") and of its "Components" sheet and saves
# the results into the copy.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tersolv

out="$(pwd)/build/example-run"
mkdir -p "$out"
cp examples/Example.xlsx "$out/Example.xlsx"
./build/bin/tersolv calc "$out/Example.xlsx"
./build/bin/tersolv calc "$out/Example.xlsx" --sheet Components
echo
echo "The results are in $out/Example.xlsx (sheets \"Ternary system\" and \"Components\");"
echo "open it with LibreOffice Calc, or run: ./build/bin/tersolv calc --help"
