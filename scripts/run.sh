#!/usr/bin/env bash
# Installs what is missing, builds and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR"
if [ -x "$BUILD_DIR/src/app/postvigil" ]; then
  exec "$BUILD_DIR/src/app/postvigil" "$@"
fi
echo "The program's window is not built yet; see README.md for what exists."
