#!/usr/bin/python3
"""Writes what Python's email package reads from the header blocks of its own test
messages, in the form RealHeadersTest.cpp compares with:

    /usr/bin/python3 tests/message/python_email_headers.py > tests/data/message/python-email-headers.txt

and, with FOLDER arguments, over the test mail in those folders (every file, recursively, by
its folder and name), which RealHeadersTest.cpp runs as it goes:

    /usr/bin/python3 tests/message/python_email_headers.py FOLDER...

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


def raw_all(msg, name):
    # The values as stored: a field with 8-bit bytes stays text (surrogate escapes), not a
    # Header object.
    return [v for k, v in msg.raw_items() if k.lower() == name.lower()]


def raw(msg, name):
    values = raw_all(msg, name)
    return values[0] if values else None


def messages():
    if len(sys.argv) == 1:
        for path in sorted(DATA.glob("msg_*.txt")):
            yield path.name, path
        return
    for folder in sys.argv[1:]:
        for path in sorted(pathlib.Path(folder).rglob("*")):
            if path.suffix in (".raw", ".txt"):
                yield f"{path.parent.name}/{path.name}", path


def main():
    out = sys.stdout.buffer
    for name, path in messages():
        with open(path, "rb") as f:
            msg = email.message_from_binary_file(f, policy=email.policy.compat32)
        lines = ["== " + name]
        lines.append("Subject: " + unfold(raw(msg, "Subject") or ""))
        for field in ("From", "To", "Cc"):
            values = [unfold(v) for v in raw_all(msg, field)]
            for name, address in email.utils.getaddresses(values):
                if name or address:
                    lines.append(f"{field}: {name} | {address}")
        date = raw(msg, "Date")
        parsed = email.utils.parsedate_tz(unfold(date)) if date else None
        if parsed:
            lines.append("Date: %04d-%02d-%02d %02d:%02d:%02d" % parsed[:6])
        ctype = raw(msg, "Content-Type")
        if ctype and unfold(ctype):
            media = unfold(ctype).split(";")[0].split()
            lines.append("Type: " + (media[0].lower() if media else ""))
            for param in ("boundary", "charset"):
                value = msg.get_param(param)
                if value:
                    value = email.utils.collapse_rfc2231_value(value, "latin-1")
                    lines.append(f"Param {param}: {value}")
        out.write(("\n".join(lines) + "\n").encode("latin-1", "surrogateescape"))


if __name__ == "__main__":
    main()
