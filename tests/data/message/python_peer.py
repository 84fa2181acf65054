#!/usr/bin/python3
"""Python's email package as the peer of our decoder.

usage: python_peer.py OUTDIR FILE...

For every FILE (numbered k from 0) it parses the message with Python's email package and
picks the MIME parts that our decoder turns into attachments, in their order: the parts of a
multipart after the text body (a leading multipart/alternative block contributes its further
alternatives), or the whole content of a single-part message that is not text. Each part's
get_payload(decode=True) is written to OUTDIR/k.i, and one line per part goes to stdout:

    k i CTE KIND

KIND is "bytes" when the payload file was written, "message" for a part Python parses as a
message or multipart (get_payload gives no bytes), "none" when the message has no MIME
structure that Python can see. Only the structure rules of our decoder are repeated here;
the bytes come from Python alone.
"""
import email
import email.policy
import os
import sys


def media(part):
    value = part.get("Content-Type")
    if value is None:
        return ""
    return str(value).split(";")[0].strip().lower()


def cte(part):
    return str(part.get("Content-Transfer-Encoding", "")).strip().lower()


def param(part, name):
    value = part.get_param(name)
    if isinstance(value, tuple):
        value = email.utils.collapse_rfc2231_value(value)
    return value or ""


def is_text_body(part):
    m = media(part)
    if m and not m.startswith("text/"):
        return False
    name = param(part, "name")
    if name and name != "cc:Mail":
        return False
    disposition = str(part.get("Content-Disposition", "")).split(";")[0].strip().lower()
    return disposition != "attachment"


def attachment_parts(msg):
    if "1.0" not in str(msg.get("MIME-Version", "")):
        return []
    top = media(msg)
    if top == "multipart" or top.startswith("multipart/"):
        parts = msg.get_payload()
        if not isinstance(parts, list) or not parts:
            return []
        first, rest = parts[0], list(parts[1:])
        japanese = False
        if media(first) == "multipart/alternative" and isinstance(first.get_payload(), list):
            alternatives = first.get_payload()
            if not alternatives:
                return rest
            rest = list(alternatives[1:]) + rest
            first = alternatives[0]
        if str(param(first, "charset")).lower() == "iso-2022-jp":
            japanese = True
        if is_text_body(first) and not (cte(first) == "base64" and not japanese):
            return rest
        return [first] + rest
    if str(msg.get("Content-Type", "")).strip() and not is_text_body(msg):
        return [msg]
    return []


def main():
    outdir, files = sys.argv[1], sys.argv[2:]
    for k, path in enumerate(files):
        with open(path, "rb") as f:
            msg = email.message_from_bytes(f.read(), policy=email.policy.compat32)
        parts = attachment_parts(msg)
        if not parts:
            print(k, -1, "-", "none")
        for i, part in enumerate(parts):
            payload = None if part.is_multipart() else part.get_payload(decode=True)
            if payload is None:
                print(k, i, cte(part) or "-", "message")
                continue
            with open(os.path.join(outdir, "%d.%d" % (k, i)), "wb") as f:
                f.write(payload)
            print(k, i, cte(part) or "-", "bytes")


if __name__ == "__main__":
    main()
