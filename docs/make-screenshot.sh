#!/usr/bin/env bash
# Takes docs/panel.png: the panel beside a calculated sheet, under Xvfb.
# Needs a build with the Qt panel and the LibreOffice Calc link:
#   docs/make-screenshot.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target tersolv_panel_screenshot
cmake --build "$build" --target tersolv_template 2>/dev/null || true
# The office connection of the picture program is now and then lost under
# load; a few attempts are allowed.
for attempt in 1 2 3 4 5; do
  if xvfb-run -a -s "-screen 0 1600x600x24" \
       "$build/bin/tersolv_panel_screenshot" "$build/bin/Tersolv.xlsx" docs/panel.png; then
    exit 0
  fi
  echo "attempt $attempt failed" >&2
done
exit 1
