#!/usr/bin/python3
"""Python's email package on the message benchmark corpus.

usage: message_python.py CORPUS_DIR          throughput as JSON lines
       message_python.py --peak FILE         peak memory of parsing and writing one message
"""
import email
import email.policy
import json
import os
import resource
import sys
import time

POLICY = email.policy.compat32


def corpus(folder):
    names = sorted(n for n in os.listdir(folder) if n.endswith(".eml") and not n.startswith("single-"))
    return [open(os.path.join(folder, n), "rb").read() for n in names]


def decode_parts(msg):
    for part in msg.walk():
        if not part.is_multipart():
            part.get_payload(decode=True)


def timed(name, messages, work, min_seconds=3.0):
    total = sum(len(m) for m in messages)
    rounds, start = 0, time.process_time()
    while True:
        work()
        rounds += 1
        elapsed = time.process_time() - start
        if elapsed >= min_seconds:
            break
    print(json.dumps({"name": name, "seconds": elapsed / rounds,
                      "bytes_per_second": total * rounds / elapsed,
                      "items_per_second": len(messages) * rounds / elapsed}))


def peak(path):
    def rss():
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    base = rss()
    with open(path, "rb") as f:
        data = f.read()
    msg = email.message_from_bytes(data, policy=POLICY)
    decode_parts(msg)
    after_decode = rss()
    del data
    out = msg.as_bytes()
    after_encode = rss()
    print(json.dumps({"who": "python", "size": os.path.getsize(path),
                      "decode": after_decode - base, "encode": after_encode - base}))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--peak":
        peak(sys.argv[2])
        return
    messages = corpus(sys.argv[1])
    timed("Python_Parse", messages,
          lambda: [email.message_from_bytes(m, policy=POLICY) for m in messages])
    timed("Python_ParseAndDecode", messages,
          lambda: [decode_parts(email.message_from_bytes(m, policy=POLICY)) for m in messages])
    parsed = [email.message_from_bytes(m, policy=POLICY) for m in messages]
    timed("Python_Write", messages, lambda: [p.as_bytes() for p in parsed])


if __name__ == "__main__":
    main()
