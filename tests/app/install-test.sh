#!/usr/bin/env bash
# Installs the build into a throw-away prefix and checks what the desktop needs from it: the
# program, a valid desktop entry naming it, and the icon the entry names.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/postvigil"
entry="$prefix/share/applications/postvigil.desktop"
desktop-file-validate "$entry"
grep -qx 'Exec=postvigil' "$entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$icon.svg"
echo "installed and valid"
