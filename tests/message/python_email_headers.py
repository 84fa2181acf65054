#!/usr/bin/python3
"""Writes what Python's email package reads from the header blocks of its own test
messages, in the form RealHeadersTest.cpp compares with:

    /usr/bin/python3 tests/message/python_email_headers.py > tests/data/message/python-email-headers.txt

Text stays 8-bit (latin-1 in, latin-1 out), as in the mail library."""
import email
import email.policy
import email.utils
import pathlib
import re
import sys

DATA = pathlib.Path("/usr/lib/python3.11/test/test_email/data")


def unfold(value):
    # Continuation lines trimmed and joined by one blank.
    parts = [p.strip() for p in re.split(r"\r?\n", value)]
    return " ".join(p for p in parts if p)


def main():
    out = sys.stdout.buffer
    for path in sorted(DATA.glob("msg_*.txt")):
        with open(path, "rb") as f:
            msg = email.message_from_binary_file(f, policy=email.policy.compat32)
        lines = ["== " + path.name]
        lines.append("Subject: " + unfold(msg.get("Subject", "")))
        for field in ("From", "To", "Cc"):
            values = [unfold(v) for v in msg.get_all(field, [])]
            for name, address in email.utils.getaddresses(values):
                if name or address:
                    lines.append(f"{field}: {name} | {address}")
        date = msg.get("Date")
        parsed = email.utils.parsedate_tz(unfold(date)) if date else None
        if parsed:
            lines.append("Date: %04d-%02d-%02d %02d:%02d:%02d" % parsed[:6])
        ctype = msg.get("Content-Type")
        if ctype:
            lines.append("Type: " + unfold(ctype).split(";")[0].split()[0].lower())
            for param in ("boundary", "charset"):
                value = msg.get_param(param)
                if value:
                    value = email.utils.collapse_rfc2231_value(value, "latin-1")
                    lines.append(f"Param {param}: {value}")
        out.write(("\n".join(lines) + "\n").encode("latin-1", "surrogateescape"))


if __name__ == "__main__":
    main()
