#!/usr/bin/env bash
# Installs what is missing, builds and starts the program. Arguments go to the program
# (for example --demo for a sample mailbox, --check for a check without a window).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target postvigil
program="$BUILD_DIR/src/app/postvigil"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No desktop: run on a virtual screen so the program still starts and can be used headless.
  exec xvfb-run -a "$program" "$@"
fi
exec "$program" "$@"
