#!/usr/bin/env bash
# Builds and runs the engine benchmark: postvigil --check and --collect --mode copy as a user
# runs them, next to mpop (and getmail, into a Maildir) on the same Dovecot mailboxes in the
# same run (3 messages, 1000 header blocks, 1000 messages of about 100 MB, one of 50 MB), on
# loopback, through a 20 ms link and over TLS; wall, CPU and peak memory of each process, the
# link's turns, then one collect of each under strace for the flushes. Five repetitions in random interleaving; the
# medians end up in the table printed last. Extra arguments go to the benchmark (e.g.
# --benchmark_filter=check, --benchmark_repetitions=3).
# PV_ENGINE_PROGRAM=/path/to/postvigil measures another build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The peer and the tracer, for this benchmark only.
if [ ! -x /usr/bin/mpop ] || [ ! -x /usr/bin/getmail ] || [ ! -x /usr/bin/strace ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get install -y mpop getmail6 strace
  else
    sudo apt-get install -y mpop getmail6 strace
  fi
fi
BUILD_DIR=${BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" --target engine_bench postvigil
mpop --version | head -1
getmail --version
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
"$BUILD_DIR/bench/engine_bench" --benchmark_counters_tabular=true --benchmark_repetitions=5 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_out="$OUT/engine.json" --benchmark_out_format=json "$@"
/usr/bin/python3 bench/engine_table.py "$OUT/engine.json"
