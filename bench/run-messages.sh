#!/usr/bin/env bash
# The message decoder and encoder benchmark: ours, GMime and Python's email package on the same
# generated corpus (at least 50 MB, mixed), plus the peak memory of one 50 MB message. Prints
# the table of docs/BENCHMARKS.md ("Decoder and encoder").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD=${BUILD:-build-bench}
CORPUS=bench/data/messages
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_BUILD_BENCH=ON \
  -DPV_BUILD_TESTS=OFF -DPV_BUILD_APP=OFF >/dev/null
cmake --build "$BUILD" --target message_bench
/usr/bin/python3 tests/data/message/make_corpus.py --bench "$CORPUS" 60

OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
"$BUILD/bench/message_bench" "$CORPUS" --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$OUT/ours.json"
/usr/bin/python3 bench/message_python.py "$CORPUS" >"$OUT/python.jsonl"
for who in ours gmime; do
  "$BUILD/bench/message_bench" --peak "$who" "$CORPUS/single-50mb.eml" >>"$OUT/peak.jsonl"
done
/usr/bin/python3 bench/message_python.py --peak "$CORPUS/single-50mb.eml" >>"$OUT/peak.jsonl"
/usr/bin/python3 bench/message_table.py "$OUT/ours.json" "$OUT/python.jsonl" "$OUT/peak.jsonl"
