#!/usr/bin/env bash
# Takes docs/panel.png: the panel beside a visible LibreOffice Calc with a calculated
# "Ternary system" sheet, as the desktop test leaves them (Xvfb, openbox, points typed
# and calculated through the panel with xdotool).
#   docs/make-screenshot.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target tersolv_panel_desktop_test tersolv_template
TERSOLV_SCREENSHOT="$PWD/docs/panel.png" "$build/bin/tersolv_panel_desktop_test"
