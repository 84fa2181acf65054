#!/usr/bin/python3
"""Generates the message corpus for the decoder and encoder tests, the fuzz seeds and the
benchmark. Output is deterministic (fixed seed); files have CR LF line ends, as a POP3
client hands them over.

usage:
    make_corpus.py OUTDIR              the test corpus (about 30 MB with the 20 MB attachment)
    make_corpus.py --bench OUTDIR MB   a mixed corpus of at least MB megabytes, plus
                                       single-50mb.eml, one message of 50 MB

Running it again on an up-to-date OUTDIR does nothing (a stamp holds this script's hash).
"""
import base64
import binascii
import fcntl
import hashlib
import os
import quopri
import random
import shutil
import sys
import zlib

CRLF = b"\r\n"


def uu(data):
    return [binascii.b2a_uu(data[i:i + 45], backtick=True).rstrip(b"\n")
            for i in range(0, len(data), 45)]


def lines(*items):
    """Joins text lines (str or bytes) with CR LF, with a final line break."""
    out = []
    for item in items:
        out.append(item.encode("latin-1") if isinstance(item, str) else item)
    return CRLF.join(out) + CRLF


def b64(data):
    return base64.encodebytes(data).replace(b"\n", CRLF).rstrip(CRLF)


def qp(data, header=False):
    encoded = quopri.encodestring(data, quotetabs=False, header=header)
    return encoded.replace(b"\r\n", b"\n").replace(b"\n", CRLF).rstrip(CRLF)


def headers(subject, extra=(), mime=True, sender='"Sender, Sam" <sam@example.org>'):
    block = [
        "Return-Path: <sam@example.org>",
        "Received: from mx.example.org by pop.example.net; Mon, 5 Mar 2001 10:20:30 +0100",
        "From: " + sender if isinstance(sender, str) else b"From: " + sender,
        "To: Rita Reader <rita@example.net>, bob@example.net",
        "Subject: " + subject if isinstance(subject, str) else b"Subject: " + subject,
        "Date: Mon, 05 Mar 2001 10:20:30 +0100",
        "Message-ID: <%08x@example.org>" % zlib.crc32(subject if isinstance(subject, bytes) else subject.encode("latin-1")),
    ]
    if mime:
        block.append("MIME-Version: 1.0")
    block.extend(extra)
    return block


def part(content_type, body, cte=None, extra=()):
    block = ["Content-Type: " + content_type]
    if cte:
        block.append("Content-Transfer-Encoding: " + cte)
    block.extend(extra)
    block.append("")
    if isinstance(body, (bytes, str)):
        block.append(body)
    else:
        block.extend(body)
    return block


def multipart(boundary, parts, preamble=("This is a multi-part message in MIME format.",),
              epilogue=()):
    block = list(preamble)
    for p in parts:
        block.append("--" + boundary)
        block.extend(p)
    block.append("--" + boundary + "--")
    block.extend(epilogue)
    return block


def nested(content_type, boundary, parts, preamble=()):
    """A multipart as a part of another one."""
    return ['Content-Type: %s; boundary="%s"' % (content_type, boundary), ""] + \
        multipart(boundary, parts, preamble=preamble)


def message(head, body_lines):
    return lines(*(head + [""] + body_lines))


class Generator:
    def __init__(self, seed):
        self.rnd = random.Random(seed)

    def words(self, n):
        vocabulary = ("mail check post office server message line text window dial "
                      "account folder transfer collect header body part attachment "
                      "priority sender subject receipt boundary encode decode").split()
        return " ".join(self.rnd.choice(vocabulary) for _ in range(n))

    def paragraph_lines(self, count, width=70):
        return [self.words(self.rnd.randint(3, width // 6)) for _ in range(count)]

    def html(self, paragraphs):
        body = "".join("<p>%s</p>" % self.words(40) for _ in range(paragraphs))
        return "<html><head><title>T</title></head><body>%s</body></html>" % body

    def binary(self, size):
        return self.rnd.randbytes(size)

    def boundary(self, tag):
        return "----=_Part_%s_%06d" % (tag, self.rnd.randint(0, 999999))


def test_corpus(g):
    """The named messages of the test corpus: name -> bytes."""
    c = {}
    text = g.paragraph_lines(8)
    html = g.html(30)

    b = g.boundary("alt")
    c["alternative-html.eml"] = message(
        headers("Alternative with HTML", ['Content-Type: multipart/alternative; boundary="%s"' % b]),
        multipart(b, [
            part('text/plain; charset="utf-8"', qp("Grüße\n".encode() + "\n".join(text).encode()),
                 "quoted-printable"),
            part('text/html; charset="utf-8"', qp(html.encode()), "quoted-printable"),
        ]))

    outer, inner = g.boundary("mix"), g.boundary("alt")
    c["mixed-alt-pdf.eml"] = message(
        headers("Mixed with alternative and two files",
                ['Content-Type: multipart/mixed; boundary="%s"' % outer]),
        multipart(outer, [
            nested("multipart/alternative", inner, [
                part("text/plain; charset=us-ascii", text, "7bit"),
                part("text/html; charset=us-ascii", qp(html.encode()), "quoted-printable"),
            ]),
            part('application/pdf; name="report.pdf"', b64(g.binary(50000)), "base64",
                 ['Content-Disposition: attachment; filename="report.pdf"']),
            part("image/png", b64(g.binary(3000)), "base64",
                 ['Content-Disposition: attachment; filename="chart.png"']),
        ]))

    rel, alt = g.boundary("rel"), g.boundary("alt")
    c["related-top.eml"] = message(
        headers("HTML with an inline picture",
                ['Content-Type: multipart/related; type="multipart/alternative"; boundary="%s"' % rel]),
        multipart(rel, [
            nested("multipart/alternative", alt, [
                part("text/plain; charset=iso-8859-1", qp("Caf\xe9\n".encode("latin-1")),
                     "quoted-printable"),
                part("text/html; charset=iso-8859-1", '<img src="cid:pic1@example">', "7bit"),
            ]),
            part('image/gif; name="pic.gif"', b64(g.binary(2000)), "base64",
                 ["Content-ID: <pic1@example>"]),
        ]))

    alt, rel = g.boundary("alt"), g.boundary("rel")
    c["alt-related.eml"] = message(
        headers("Alternative whose HTML is related",
                ['Content-Type: multipart/alternative; boundary="%s"' % alt]),
        multipart(alt, [
            part("text/plain", text, "7bit"),
            nested("multipart/related", rel, [
                part("text/html", '<img src="cid:p@x">', "7bit"),
                part("image/png", b64(g.binary(1500)), "base64", ["Content-ID: <p@x>"]),
            ]),
        ]))

    b1, b2, b3 = g.boundary("d1"), g.boundary("d2"), g.boundary("d3")
    c["nested-mixed-deep.eml"] = message(
        headers("Three levels", ['Content-Type: multipart/mixed; boundary="%s"' % b1]),
        multipart(b1, [
            part("text/plain", "Outer text", "7bit"),
            nested("multipart/mixed", b2, [
                part("text/plain", "Middle text", "7bit"),
                nested("multipart/mixed", b3, [
                    part("application/octet-stream; name=deep.bin", b64(g.binary(700)), "base64"),
                ]),
            ]),
        ]))

    inner = g.boundary("fwd")
    forwarded = message(
        headers("The forwarded one", ['Content-Type: multipart/mixed; boundary="%s"' % inner]),
        multipart(inner, [part("text/plain", "inner text", "7bit"),
                          part("application/zip; name=a.zip", b64(g.binary(400)), "base64")]))
    b = g.boundary("mix")
    c["forwarded-rfc822.eml"] = message(
        headers("Fwd: a message", ['Content-Type: multipart/mixed; boundary="%s"' % b]),
        multipart(b, [part("text/plain", "See below.", "7bit"),
                      part("message/rfc822", forwarded.rstrip(CRLF), "7bit",
                           ['Content-Disposition: attachment; filename="fwd.eml"'])]))

    b = g.boundary("long")
    csv = [",".join(str(g.rnd.randint(0, 10 ** 6)) for _ in range(700)) for _ in range(20)]
    c["long-lines.eml"] = message(
        headers("Long lines", ['Content-Type: multipart/mixed; boundary="%s"' % b]),
        multipart(b, [
            part("text/plain", [g.words(60) for _ in range(5)], "7bit"),
            part('text/csv; name="data.csv"', csv, "7bit"),
            part('text/html; name="page.html"', g.html(400), "8bit"),
        ]))

    c["single-html-long.eml"] = message(
        headers("One long HTML paragraph", ["Content-Type: text/html; charset=utf-8",
                                            "Content-Transfer-Encoding: quoted-printable"]),
        [qp(g.html(2000).encode())])

    c["headers-8bit.eml"] = message(
        headers("Gr\xfc\xdfe aus K\xf6ln".encode("latin-1"),
                ["Content-Type: text/plain; charset=iso-8859-1", "Content-Transfer-Encoding: 8bit"],
                sender="Jürgen Müller <jm@example.de>".encode("utf-8")),
        ["Stra\xdfe".encode("latin-1"), "plain 8-bit body"])

    c["encoded-words.eml"] = message(
        headers("=?utf-8?B?%s?= =?iso-8859-1?Q?Caf=E9_au_lait?= and report_v2" %
                base64.b64encode("Grüße".encode()).decode(),
                ["Cc: =?iso-8859-1?Q?J=F6rg?= <joerg@example.de>,",
                 ' "Smith, John" <js@example.org>,', "\tthird@example.com",
                 "Content-Type: text/plain; charset=us-ascii"],
                sender="=?utf-8?Q?Andr=C3=A9?= <andre@example.fr>"),
        ["Encoded words in the header."])

    c["uuencoded.eml"] = message(
        headers("Files the old way", mime=False),
        ["Here are two files."] +
        ["begin 644 a.bin"] + uu(g.binary(1000)) + ["`", "end"] +
        ["", "Text between the blocks.", ""] +
        ["begin 644 notes.txt"] + uu(b"first line\r\nsecond line\r\n") + ["`", "end"] +
        ["Text after the last block."])

    c["uuencoded-in-mime-text.eml"] = message(
        headers("A MIME text with a uuencoded block", ["Content-Type: text/plain"]),
        ["before", "begin 600 x.dat"] + uu(g.binary(100)) + ["`", "end", "after"])

    b = g.boundary("big")
    c["attachment-20mb.eml"] = message(
        headers("A 20 MB attachment", ['Content-Type: multipart/mixed; boundary="%s"' % b]),
        multipart(b, [part("text/plain", "The file is attached.", "7bit"),
                      part('application/octet-stream; name="big.bin"',
                           b64(g.binary(20 * 1024 * 1024)), "base64")]))

    c["boundary-never-closed.eml"] = message(
        headers("Never closed", ['Content-Type: multipart/mixed; boundary="XYZ"']),
        ["--XYZ", "Content-Type: text/plain", "", "the text part never ends"])

    c["attachment-not-closed.eml"] = message(
        headers("Last part not closed", ['Content-Type: multipart/mixed; boundary="XYZ"']),
        ["--XYZ", "Content-Type: text/plain", "", "text", "--XYZ",
         "Content-Type: application/octet-stream; name=t.bin", "Content-Transfer-Encoding: base64",
         "", b64(g.binary(90))])

    c["boundary-missing.eml"] = message(
        headers("No boundary parameter", ["Content-Type: multipart/mixed"]),
        ["--XYZ", "Content-Type: text/plain", "", "text", "--XYZ--"])

    c["boundary-wrong.eml"] = message(
        headers("Wrong boundary", ['Content-Type: multipart/mixed; boundary="ABC"']),
        ["--XYZ", "Content-Type: text/plain", "", "text", "--XYZ--"])

    c["content-type-missing.eml"] = message(
        headers("MIME without a Content-Type"), ["Just text.", "Two lines."])

    c["headers-missing.eml"] = lines("", "A message without any header.", "Second line.")

    c["body-missing.eml"] = lines(*headers("Only headers", ["Content-Type: text/plain"]))

    allbytes = bytes(range(256)) * 4 + b"trailing space \r\nctrl-z\x1a\r\nlone\rcr lone\nlf\r\n"
    b = g.boundary("qp")
    c["qp-binary.eml"] = message(
        headers("Binary data in quoted-printable", ['Content-Type: multipart/mixed; boundary="%s"' % b]),
        multipart(b, [part("text/plain", "see attachment", "7bit"),
                      part("application/octet-stream; name=all.bin",
                           binascii.b2a_qp(allbytes, istext=False).replace(b"\n", CRLF).rstrip(CRLF),
                           "quoted-printable")]))

    c["base64-text-dot.eml"] = message(
        headers("Base64 HTML body and a final dot", ["Content-Type: text/html; charset=utf-8",
                                                    "Content-Transfer-Encoding: base64"]),
        [b64(html.encode()), "."])

    c["single-attachment.eml"] = message(
        headers("Only a file", ['Content-Type: application/pdf; name="scan.pdf"',
                                "Content-Transfer-Encoding: base64",
                                'Content-Disposition: attachment; filename="scan.pdf"']),
        [b64(g.binary(5000))])

    c["transport-padding.eml"] = message(
        headers("Padding after delimiters", ['Content-Type: multipart/mixed; boundary="PAD"']),
        ["preamble line", "--PAD  ", "Content-Type: text/plain", "", "text", "--PAD\t",
         "Content-Type: application/octet-stream; name=p.bin", "Content-Transfer-Encoding: base64",
         "", b64(g.binary(300)), "--PAD-- ", "epilogue line"])

    b = g.boundary("uue")
    c["x-uue-part.eml"] = message(
        headers("A uuencoded MIME part", ['Content-Type: multipart/mixed; boundary="%s"' % b]),
        multipart(b, [part("text/plain", "text", "7bit"),
                      part("application/octet-stream; name=u.bin",
                           [b"begin 644 u.bin"] + uu(g.binary(200)) + [b"`", b"end"], "x-uuencode")]))

    b = g.boundary("html")
    c["first-part-html.eml"] = message(
        headers("HTML body with a file", ['Content-Type: multipart/mixed; boundary="%s"' % b]),
        multipart(b, [part("text/html; charset=utf-8", qp(html.encode()), "quoted-printable"),
                      part("application/octet-stream; name=x.bin", b64(g.binary(100)), "base64")]))

    b = g.boundary("cal")
    c["calendar-only-part.eml"] = message(
        headers("Invitation", ['Content-Type: multipart/mixed; boundary="%s"' % b]),
        multipart(b, [part("text/calendar; method=REQUEST; charset=utf-8",
                           ["BEGIN:VCALENDAR", "METHOD:REQUEST", "END:VCALENDAR"], "7bit")]))

    c["bcc-priority-receipt.eml"] = message(
        headers("Fields the model cannot rebuild",
                ["Bcc: hidden@example.net", "X-Priority: 1 (Highest)",
                 "Return-Receipt-To: <receipts@example.org>", "Content-Type: text/plain"]),
        ["text"])

    c["prefix-boundary.eml"] = message(
        headers("Inner boundary starts with the outer one",
                ['Content-Type: multipart/mixed; boundary="b1"']),
        multipart("b1", [part("text/plain", "outer text", "7bit"),
                         nested("multipart/mixed", "b1-inner", [part("text/plain", "inner", "7bit"),
                                                part("application/octet-stream; name=i.bin",
                                                     b64(g.binary(120)), "base64")])]))

    b = g.boundary("named")
    c["first-part-named-text.eml"] = message(
        headers("A text file and no body", ['Content-Type: multipart/mixed; boundary="%s"' % b]),
        multipart(b, [part('text/plain; name="notes.txt"', ["note 1", "note 2"], "7bit",
                           ['Content-Disposition: attachment; filename="notes.txt"']),
                      part("application/octet-stream; name=x.bin", b64(g.binary(64)), "base64")]))

    jis = b"\x1b$B$3$s$K$A$O\x1b(B"
    c["iso-2022-jp.eml"] = message(
        headers(b"=?ISO-2022-JP?B?" + base64.b64encode(jis) + b"?=",
                ["Content-Type: text/plain; charset=iso-2022-jp", "Content-Transfer-Encoding: 7bit"]),
        [jis, b"second line"])

    for i in range(40):
        c["random-%02d.eml" % i] = random_message(g, i)
    return c


def random_message(g, i, big=False):
    """A message of a random kind with random sizes; big allows attachments of megabytes."""
    kind = g.rnd.choice(["plain", "qp", "html", "mixed", "alternative", "nested", "uu", "single"])
    subject = "%s %d" % (g.words(4), i)
    max_file = 2 * 1024 * 1024 if big else 20000
    text = g.paragraph_lines(g.rnd.randint(1, 60))
    if kind == "plain":
        return message(headers(subject, ["Content-Type: text/plain; charset=us-ascii"]), text)
    if kind == "qp":
        data = "\n".join(text).encode() + "\nÄÖÜ äöü ß\n".encode("latin-1")
        return message(headers(subject, ["Content-Type: text/plain; charset=iso-8859-1",
                                         "Content-Transfer-Encoding: quoted-printable"]), [qp(data)])
    if kind == "html":
        return message(headers(subject, ["Content-Type: text/html; charset=us-ascii",
                                         "Content-Transfer-Encoding: quoted-printable"]),
                       [qp(g.html(g.rnd.randint(1, 80)).encode())])
    if kind == "uu":
        blocks = ["begin 644 f%d.dat" % i] + uu(g.binary(g.rnd.randint(0, max_file // 4)))
        return message(headers(subject, mime=False), text + blocks + ["`", "end"])
    if kind == "single":
        return message(headers(subject, ['Content-Type: application/octet-stream; name="s%d.bin"' % i,
                                          "Content-Transfer-Encoding: base64"]),
                       [b64(g.binary(g.rnd.randint(0, max_file)))])
    b = g.boundary("r%d" % i)
    files = []
    for k in range(g.rnd.randint(1, 4)):
        size = g.rnd.randint(0, max_file)
        if g.rnd.random() < 0.3:
            files.append(part('text/plain; name="t%d.txt"' % k,
                              qp(("\n".join(g.paragraph_lines(size // 60 + 1))).encode()),
                              "quoted-printable"))
        else:
            files.append(part('application/octet-stream; name="f%d.bin"' % k,
                              b64(g.binary(size)), "base64"))
    if kind == "mixed":
        return message(headers(subject, ['Content-Type: multipart/mixed; boundary="%s"' % b]),
                       multipart(b, [part("text/plain", text, "7bit")] + files))
    if kind == "alternative":
        return message(headers(subject, ['Content-Type: multipart/alternative; boundary="%s"' % b]),
                       multipart(b, [part("text/plain", text, "7bit"),
                                     part("text/html", qp(g.html(5).encode()), "quoted-printable")]))
    inner = g.boundary("n%d" % i)
    return message(headers(subject, ['Content-Type: multipart/mixed; boundary="%s"' % b]),
                   multipart(b, [nested("multipart/alternative", inner,
                                        [part("text/plain", text, "7bit"),
                                         part("text/html", g.html(3), "7bit")])] + files))


def write_corpus(outdir, corpus, tag=""):
    tmp = outdir + ".tmp-%d" % os.getpid()
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    for name, data in corpus.items():
        with open(os.path.join(tmp, name), "wb") as f:
            f.write(data)
    with open(os.path.join(tmp, "STAMP"), "w") as f:
        f.write(stamp() + tag)
    shutil.rmtree(outdir, ignore_errors=True)
    os.rename(tmp, outdir)


def stamp():
    with open(os.path.abspath(__file__), "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def up_to_date(outdir, tag=""):
    try:
        with open(os.path.join(outdir, "STAMP")) as f:
            return f.read() == stamp() + tag
    except OSError:
        return False


def bench_corpus(g, megabytes):
    c = {}
    total, i = 0, 0
    while total < megabytes * 1024 * 1024:
        data = random_message(g, i, big=True)
        c["bench-%04d.eml" % i] = data
        total += len(data)
        i += 1
    b = g.boundary("single")
    c["single-50mb.eml"] = message(
        headers("A 50 MB message", ['Content-Type: multipart/mixed; boundary="%s"' % b]),
        multipart(b, [part("text/plain", "The file is attached.", "7bit"),
                      part('application/octet-stream; name="big.bin"',
                           b64(g.binary(37 * 1024 * 1024)), "base64")]))
    return c


def locked(outdir):
    """An exclusive lock next to OUTDIR, so that tests running side by side generate once."""
    os.makedirs(os.path.dirname(os.path.abspath(outdir)), exist_ok=True)
    lock = open(os.path.abspath(outdir) + ".lock", "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    return lock


def main():
    args = sys.argv[1:]
    if len(args) == 3 and args[0] == "--bench":
        outdir, megabytes = args[1], int(args[2])
        with locked(outdir):
            if not up_to_date(outdir, args[2]):
                write_corpus(outdir, bench_corpus(Generator(2), megabytes), args[2])
        return
    if len(args) != 1:
        sys.exit(__doc__)
    with locked(args[0]):
        if not up_to_date(args[0]):
            write_corpus(args[0], test_corpus(Generator(1)))


if __name__ == "__main__":
    main()
