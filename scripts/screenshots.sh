#!/usr/bin/env bash
# Renders the documentation's pictures of the main window, the information window, the
# account editor (of a new account, of one delivering to a Maildir and of one signing in with
# OAuth 2.0), the settings dialog,
# the tray menu, the main window listing the international test mailbox (at its smallest size
# and at twice that), the desktop notification of that check and the main window listing it
# on a screen of twice the pixel density, on a virtual screen with a session bus and a
# notification service of its own, the tray's hint and the account menu after a check of two
# accounts, and throw-away program and settings folders.
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
# The main window listing the mailbox again, from fresh folders, on a screen of twice the
# density: its buttons' and rows' pictures must be sharp there too.
mkdir -p "$home/2x"
export POSTVIGIL_HOME="$home/2x/prog" XDG_CONFIG_HOME="$home/2x/config" \
  XDG_CACHE_HOME="$home/2x/cache"
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1600x1000x24" dbus-run-session -- \
  "$BUILD_DIR/tools/screenshots/pv_screenshots" "$home/2x" tests/data/app/international
cp "$home/2x/international-mailbox.png" docs/main-window-2x.png
echo "written: docs/main-window.png docs/info-window.png docs/account-editor.png" \
  "docs/account-editor-delivery.png" \
  "docs/settings-dialog.png docs/tray-menu.png docs/international-mailbox.png" \
  "docs/main-window-large.png docs/notification.png docs/main-window-2x.png" \
  "docs/tray-accounts.png"
