#!/usr/bin/python3
"""Prints the medians of the engine benchmark (bench/run-engine.sh) as a markdown table, one
row per case and program, from the benchmark's JSON output file."""
import json
import sys


def cell(b, key, form):
    return form % b[key] if key in b else ""


def main():
    with open(sys.argv[1]) as f:
        data = json.load(f)
    print("| Case | program | wall ms | CPU s | peak MB | MB/s | turns | wall / 20 ms |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    medians = [b for b in data["benchmarks"] if b.get("aggregate_name") == "median"]
    for b in sorted(medians, key=lambda b: b["run_name"]):
        parts = b["run_name"].split("/iterations")[0].split("/")
        print("| %s | %s | %.0f | %.3f | %.1f | %s | %s | %s |" % (
            "/".join(parts[:-1]), parts[-1], b["real_time"], b["cpu_s"], b["peak_MB"],
            cell(b, "MB/s", "%.1f"), cell(b, "turns", "%.0f"), cell(b, "wall_rtts", "%.1f")))


if __name__ == "__main__":
    main()
