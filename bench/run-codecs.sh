#!/usr/bin/env bash
# Builds codec_bench optimised and runs it: the mail library's codecs and GMime's on the same
# input in one run, five repetitions each. Prints the Markdown table of docs/BENCHMARKS.md
# ("Codecs"); the raw figures stay in build-bench/codec_bench.json.
# Extra arguments go to the benchmark, e.g. --benchmark_filter=Base64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_BUILD_TESTS=OFF \
  -DPV_BUILD_APP=OFF >/dev/null
cmake --build build-bench --target codec_bench >/dev/null
out=build-bench/codec_bench.json
build-bench/bench/codec_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_enable_random_interleaving=true \
  --benchmark_out="$out" --benchmark_out_format=json "$@" >&2
/usr/bin/python3 bench/codec_table.py "$out"
