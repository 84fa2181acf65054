#!/usr/bin/python3
"""Turns codec_bench's JSON output into the Markdown table of docs/BENCHMARKS.md: the median
of the repetitions, in MB/s (10^6 bytes per second of input)."""
import json
import sys

ROWS = [
    ("Base64Decode", "Base64Decode", "base64 decode, 76-character lines"),
    ("Base64Encode", "Base64Encode", "base64 encode, 57-byte chunks"),
    ("QPDecode", "QPDecode", "quoted-printable decode, line by line"),
    ("QPDecodeList", "QPDecode", "quoted-printable decode, `TQuotedPrintable` list to stream"),
    ("QPEncode", "QPEncode", "quoted-printable encode, into one buffer"),
    ("QPEncodeList", "QPEncode", "quoted-printable encode, `TQuotedPrintable` stream to list"),
    ("UUEncode", "UUEncode", "uuencode, 45-byte lines"),
    ("UUDecode", "UUDecode", "uudecode, 61-character lines"),
    ("LineSplit", "LineSplit", "`TLineStream` line splitting"),
    ("HeaderValues", "HeaderValues", "`GetHeaderValue` + `DecodeHeaderText`, 4 fields per block"),
]


def main():
    with open(sys.argv[1]) as f:
        data = json.load(f)
    median = {}
    allocs = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        name = b["run_name"].split("/min_time")[0]
        median[name] = b["bytes_per_second"] / 1e6
        if "allocs/line" in b:
            allocs[name] = b["allocs/line"]
    print("| Operation | ours MB/s | ours, pump installed | pump cost | GMime MB/s | ours/GMime | allocations per line |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for ours, peer, label in ROWS:
        plain = median.get(f"{ours}_Ours/pump:0")
        pumped = median.get(f"{ours}_Ours/pump:1")
        gmime = median.get(f"{peer}_GMime")
        if plain is None:
            continue
        cost = f"{(plain - pumped) / plain * 100:+.1f}%" if pumped else "-"
        ratio = f"{plain / gmime:.2f}" if gmime else "-"
        alloc = allocs.get(f"{ours}_Ours/pump:0", 0.0)
        print(f"| {label} | {plain:.0f} | {pumped:.0f} | {cost} | "
              f"{gmime:.0f} | {ratio} | {alloc:.3g} |")


if __name__ == "__main__":
    main()
