#!/usr/bin/env bash
# Builds and runs the collect benchmark: postvigil --collect --mode get next to --mode copy of
# 200 messages, on a Dovecot mailbox on loopback and through a relay that writes every answer
# on its own with Nagle's algorithm on (a server that delays small writes).
# PV_COLLECT_PROGRAMS=old:new runs two builds alternately in one run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" --target collect_bench
"$BUILD_DIR/bench/collect_bench" --benchmark_counters_tabular=true "$@"
