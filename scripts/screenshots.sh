#!/usr/bin/env bash
# Renders the documentation's pictures of the main window, the information window, the
# account editor, the settings dialog and the main window listing the international test
# mailbox on a virtual screen, with throw-away program and settings folders.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR" --target pv_screenshots
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
POSTVIGIL_HOME="$home/prog" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
  POSTVIGIL_RAS=none QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  "$BUILD_DIR/tools/screenshots/pv_screenshots" docs tests/data/app/international
echo "written: docs/main-window.png docs/info-window.png docs/account-editor.png docs/settings-dialog.png docs/international-mailbox.png"
