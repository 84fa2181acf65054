#!/usr/bin/python3
"""Prints the markdown table of the message benchmark from the results of run-messages.sh."""
import json
import sys


def main():
    bench, python, peak = sys.argv[1:4]
    rates = {}
    with open(bench) as f:
        data = json.load(f)
    corpus = None
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        name = b["run_name"].split("/")[0].replace("BM_", "")
        rates[name] = (b["bytes_per_second"], b["items_per_second"])
    with open(python) as f:
        for line in f:
            r = json.loads(line)
            rates[r["name"]] = (r["bytes_per_second"], r["items_per_second"])
    mb = 1024 * 1024
    rows = [
        ("Decode: ours (parse + decode every part)", "OursDecode", "GMimeParseAndDecode"),
        ("GMime: parse + decode every part", "GMimeParseAndDecode", "GMimeParseAndDecode"),
        ("GMime: parse only (content left encoded)", "GMimeParse", "GMimeParseAndDecode"),
        ("Python email: parse only", "Python_Parse", "GMimeParseAndDecode"),
        ("Python email: parse + get_payload(decode=True)", "Python_ParseAndDecode",
         "GMimeParseAndDecode"),
        ("Encode: ours (encode every part)", "OursEncode", "GMimeWrite"),
        ("GMime: write back (content kept encoded)", "GMimeWrite", "GMimeWrite"),
        ("Python email: as_bytes()", "Python_Write", "GMimeWrite"),
    ]
    print("| Run | MB/s | messages/s | ratio to the GMime row below it |")
    print("|---|---:|---:|---:|")
    for label, key, peer in rows:
        if key not in rates:
            continue
        bps, ips = rates[key]
        ratio = bps / rates[peer][0] if peer in rates else float("nan")
        print("| %s | %.1f | %.0f | %.2f (vs %s) |" % (label, bps / mb, ips, ratio, peer))
    print()
    print("| Peak memory, one 50 MB message | size | after decode | after encode | ratio to size |")
    print("|---|---:|---:|---:|---:|")
    with open(peak) as f:
        for line in f:
            r = json.loads(line)
            worst = max(r["decode"], r["encode"])
            print("| %s | %.1f MB | %.1f MB | %.1f MB | %.2f |" % (
                r["who"], r["size"] / mb, r["decode"] / mb, r["encode"] / mb, worst / r["size"]))


if __name__ == "__main__":
    main()
