#!/usr/bin/python3
"""Checks msgtool's commands, its JSON and its exit codes. usage: msgtool_test.py MSGTOOL"""
import hashlib
import json
import os
import subprocess
import sys
import tempfile

MESSAGE = (b"From: \"Smith, John\" <js@example.org>\r\n"
           b"To: a@example.org, B <b@example.org>\r\n"
           b"Cc: c@example.org\r\nBcc: d@example.org\r\n"
           b"Subject: Caf\xe9\r\nX-Priority: 1\r\nReturn-Receipt-To: <js@example.org>\r\n"
           b"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n"
           b"--B\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
           b"Content-Transfer-Encoding: quoted-printable\r\n\r\nGr=FC=DFe\r\n"
           b"--B\r\nContent-Type: application/octet-stream; name=a.bin\r\n"
           b"Content-Transfer-Encoding: base64\r\n\r\nAAEC/w==\r\n--B--\r\n")


def run(tool, *args):
    return subprocess.run([tool] + list(args), capture_output=True)


def check(condition, what):
    if not condition:
        sys.exit("msgtool: " + what)


def main():
    tool = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "m.eml")
        with open(path, "wb") as f:
            f.write(MESSAGE)
        save = os.path.join(tmp, "save")
        os.mkdir(save)

        done = run(tool, "decode", path, "--save", save)
        check(done.returncode == 0, "decode failed: %r" % done.stderr)
        m = json.loads(done.stdout)
        check(m["subject"] == "Caf\u00e9", "byte 0xE9 is the character U+00E9")
        check(m["sender"] == {"name": "Smith, John", "address": "js@example.org"}, "sender")
        check([r["address"] for r in m["recipients"]] == ["a@example.org", "b@example.org"],
              "recipients")
        check(len(m["cc"]) == 1 and len(m["bcc"]) == 1, "cc and bcc")
        check(m["priority"] == 2 and m["returnReceipt"] is True, "priority and receipt")
        check(m["contentType"] == "multipart/mixed" and m["charset"] == 1 and m["encoding"] == 0,
              "content type, charset, encoding")
        check(m["body"] == ["Gr\u00fc\u00dfe"], "body")
        check(m["headers"][0].startswith("From:"), "headers")
        (att,) = m["attachments"]
        data = bytes([0, 1, 2, 255])
        check(att == {"fileName": "a.bin", "contentType": "application/octet-stream",
                      "encoding": 1, "size": 4, "sha256": hashlib.sha256(data).hexdigest()},
              "attachment %r" % att)
        with open(os.path.join(save, "0"), "rb") as f:
            check(f.read() == data, "saved attachment")
        check(os.stat(os.path.join(save, "0")).st_mode & 0o077 == 0, "saved for its owner only")

        # A name already taken in the folder, by a symlink or a file, is never written through.
        planted = os.path.join(save, "planted")
        os.mkdir(planted)
        target = os.path.join(tmp, "target")
        with open(target, "wb") as f:
            f.write(b"keep")
        os.symlink(target, os.path.join(planted, "0"))
        refused = run(tool, "decode", path, "--save", planted)
        check(refused.returncode == 2 and b"planted/0" in refused.stderr,
              "a symlink in the folder: %r" % refused.stderr)
        with open(target, "rb") as f:
            check(f.read() == b"keep", "the symlink's target is untouched")
        again = run(tool, "decode", path, "--save", save)
        check(again.returncode == 2, "an earlier attachment is not replaced")
        with open(os.path.join(save, "0"), "rb") as f:
            check(f.read() == data, "the earlier attachment stays")

        listing = json.loads(run(tool, "headers", path).stdout)
        check("body" not in listing and "attachments" not in listing, "headers has no content")
        check(listing["subject"] == "Caf\u00e9", "headers subject")

        again = os.path.join(tmp, "again.eml")
        with open(again, "wb") as f:
            f.write(run(tool, "reencode", path).stdout)
        back = json.loads(run(tool, "decode", again).stdout)
        check(back["attachments"] == m["attachments"] and back["body"] == m["body"], "reencode")

        missing = run(tool, "decode", os.path.join(tmp, "missing.eml"))
        check(missing.returncode == 2 and b"missing.eml" in missing.stderr, "unreadable file")
        check(run(tool, "frobnicate", path).returncode == 2, "unknown command")
    print("msgtool: all checks passed")


if __name__ == "__main__":
    main()
