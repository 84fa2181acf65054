#!/usr/bin/python3
"""Python's email package as the peer of our Unicode views of subject and sender name.

usage: python_unicode_peer.py FILE...

For every FILE (numbered k from 0), one line "k SUBJECT SENDER": the Unicode subject as
str(msg["subject"]) and the display name of the first From address, with the default
policy (email.policy.default), each as the hexadecimal digits of its UTF-8 bytes ("" is
"-", a field Python cannot read "!"). Bytes Python could not decode (surrogate escapes)
are U+FFFD, as Python shows them."""
import email
import email.policy
import re
import sys

SURROGATES = re.compile("[\ud800-\udfff]")


def hexed(text):
    if text is None:
        return "!"
    return SURROGATES.sub("\ufffd", text).encode("utf-8").hex() or "-"


def read(msg, name, pick):
    try:
        value = msg[name]
        return "" if value is None else pick(value)
    except Exception:
        return None


def first_name(value):
    addresses = value.addresses
    return addresses[0].display_name if addresses else ""


def main():
    for k, path in enumerate(sys.argv[1:]):
        with open(path, "rb") as f:
            msg = email.message_from_binary_file(f, policy=email.policy.default)
        subject = read(msg, "subject", str)
        sender = read(msg, "from", first_name)
        print(k, hexed(subject), hexed(sender))


if __name__ == "__main__":
    main()
