#!/usr/bin/env bash
# Builds and runs the check benchmark: a Dovecot mailbox of 1000 messages, checked on plain
# loopback and through a delaying relay (20 ms round trips), headless and in the window on a
# virtual screen (offscreen unless QT_QPA_PLATFORM says otherwise), next to poplib.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" --target check_bench
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$BUILD_DIR/bench/check_bench" \
  --benchmark_counters_tabular=true "$@"
