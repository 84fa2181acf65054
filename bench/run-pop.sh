#!/usr/bin/env bash
# Builds and runs the POP3 benchmark: Postvigil's client, Python's poplib and fetchmail
# against one Dovecot mailbox of 1000 messages (about 100 MB) on loopback, in one run; also
# the whole collect (postvigil --collect) next to fetchmail delivering to files.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" --target pop_bench postvigil
"$BUILD_DIR/bench/pop_bench" --benchmark_counters_tabular=true "$@"
