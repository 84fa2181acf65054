#!/usr/bin/python3
"""Turns codec_bench's JSON output into the Markdown table of docs/BENCHMARKS.md: medians of
the repetitions, throughput in MB/s (10^6 bytes of input per second)."""
import json
import sys

ROWS = [
    ("Base64Decode", "Base64Decode", "base64 decode, 76-character lines"),
    ("Base64Encode", "Base64Encode", "base64 encode, 57-byte chunks"),
    ("QPDecode", "QPDecode", "quoted-printable decode, `QPDecodeLineAppend` line by line"),
    ("QPDecodeList", "QPDecode", "quoted-printable decode, `TQuotedPrintable` list to stream"),
    ("QPEncode", "QPEncode", "quoted-printable encode, `QPEncodeAppend` into one buffer"),
    ("QPEncodeList", "QPEncode", "quoted-printable encode, `TQuotedPrintable` stream to list"),
    ("UUEncode", "UUEncode", "uuencode, 45-byte lines"),
    ("UUDecode", "UUDecode", "uudecode, 61-character lines"),
    ("LineSplit", "LineSplit", "`TLineStream` line splitting"),
    ("HeaderValues", "HeaderValues", "`GetHeaderValue` + `DecodeHeaderText`, 4 fields per block"),
    ("HeaderText", "HeaderValues", "`GetHeaderText` (Unicode, through iconv), 4 fields per block"),
]


def main():
    with open(sys.argv[1]) as f:
        data = json.load(f)
    median = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            median[b["run_name"].split("/min_time")[0]] = b
    print("| Operation | ours MB/s | GMime MB/s | ours/GMime | allocations per line "
          "| pump installed: cost (calls per pass) |")
    print("|---|---:|---:|---:|---:|---:|")
    for ours, peer, label in ROWS:
        mine = median.get(f"Ours/{ours}")
        gmime = median.get(f"GMime/{peer}")
        if not mine:
            continue
        mb = mine["bytes_per_second"] / 1e6
        gm = gmime["bytes_per_second"] / 1e6 if gmime else None
        ratio = f"{mb / gm:.2f}" if gm else "-"
        pump = median.get(f"PumpCost/{ours}")
        cost = (f"{pump['cost_pct']:+.1f}% ({pump['pump_calls']:.0f})" if pump
                else "no calls")
        print(f"| {label} | {mb:.0f} | {gm:.0f} | {ratio} | {mine['allocs/line']:.2g} | {cost} |")
    calls = [median.get(f"ProcessMessagesCall/pump:{k}") for k in (0, 1)]
    if all(calls):
        print()
        print("`ProcessMessages()`: %.2f ns per call without a pump, %.2f ns with the no-op pump "
              "installed." % tuple(c["cpu_time"] for c in calls))


if __name__ == "__main__":
    main()
