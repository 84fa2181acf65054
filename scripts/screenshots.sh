#!/usr/bin/env bash
# Renders the documentation's pictures of the main window, the information window, the
# account editor, the settings dialog, the tray menu, the main window listing the
# international test mailbox (at its smallest size and at twice that) and the desktop
# notification of that check, on a virtual screen with a session bus and a notification
# service of its own, and throw-away program and settings folders.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR" --target pv_screenshots
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# The notification service's look: the program's colours, in the top right corner.
cat >"$home/dunstrc" <<'CONF'
[global]
    font = DejaVu Sans 10
    origin = top-right
    offset = 0x0
    width = 420
    frame_width = 2
    frame_color = "#203060"
    padding = 10
    horizontal_padding = 12
    format = "<b>%s</b>\n%b"
    show_indicators = no
[urgency_normal]
    background = "#fff8d8"
    foreground = "#202020"
    timeout = 0
CONF
export POSTVIGIL_HOME="$home/prog" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache"
export POSTVIGIL_RAS=none QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1600x1000x24" dbus-run-session -- bash -c '
  dunst -config "$1/dunstrc" &
  "$2/tools/screenshots/pv_screenshots" docs tests/data/app/international
  status=$?
  kill %1
  exit $status' screenshots "$home" "$BUILD_DIR"
echo "written: docs/main-window.png docs/info-window.png docs/account-editor.png" \
  "docs/settings-dialog.png docs/tray-menu.png docs/international-mailbox.png" \
  "docs/main-window-large.png docs/notification.png"
