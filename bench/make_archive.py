#!/usr/bin/env python3
"""Writes a benchmark archive of about SIZE MiB in the shape office suites save:
a ~20 MB quoted-printable HTML page, then base64 images of ~2.5 MB each, CRLF
line ends, four header lines after every boundary line. Other shapes hold a
single large part: `base64` one base64 object (an embedded file), `qp` one
long quoted-printable page, each filling the archive.

usage: make_archive.py SIZE_MIB OUTPUT_DIR [office|base64|qp]
Writes OUTPUT_DIR/archive-SIZE.mht (archive-SHAPE-SIZE.mht for the single
part shapes) and OUTPUT_DIR/base64.conf (RFC 2045)."""

import base64
import binascii
import os
import random
import sys

BOUNDARY = b"----=_NextPart_01DA0B1C.2E3F4A50"
PAGE_TEXT_BYTES = 15 * 1000 * 1000  # about 20 MB once quoted-printable
IMAGE_BYTES = 2500 * 1000
RFC_ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"

WORDS = (b"the report sales region quarter growth chart table figure margin "
         b"caf\xc3\xa9 na\xc3\xafve r\xc3\xa9sum\xc3\xa9 data value total "
         b"office page style font").split()


def page_text(rng, size):
    """HTML as an office program writes it: attribute soup and short text."""
    out = []
    total = 0
    n = 0
    while total < size:
        n += 1
        words = b" ".join(rng.choice(WORDS) for _ in range(rng.randint(5, 40)))
        para = (b"<p class=MsoNormal style='margin-top:0cm;margin-bottom:0cm;"
                b"line-height:normal'><span lang=EN-US style='font-size:11.0pt;"
                b"font-family:\"Calibri\",sans-serif;color:#1F3864'>" + words +
                b"</span><span style='mso-spacerun:yes'>&nbsp;</span>"
                b"<img width=%d height=%d src=\"page_files/image%03d.png\">"
                b"</p>\r\n" % (rng.randint(10, 999), rng.randint(10, 999), n % 1000))
        out.append(para)
        total += len(para)
    head = (b"<html xmlns:v=\"urn:schemas-microsoft-com:vml\" "
            b"xmlns:o=\"urn:schemas-microsoft-com:office:office\">\r\n"
            b"<head>\r\n<meta http-equiv=Content-Type content=\"text/html; "
            b"charset=utf-8\">\r\n</head>\r\n<body lang=EN-US>\r\n")
    return head + b"".join(out) + b"</body>\r\n</html>\r\n"


def part_header(location, encoding, content_type):
    return (b"--" + BOUNDARY + b"\r\n"
            b"Content-Location: file:///C:/" + location + b"\r\n"
            b"Content-Transfer-Encoding: " + encoding + b"\r\n"
            b"Content-Type: " + content_type + b"\r\n\r\n")


def single_base64(f, rng, size):
    """One base64 part filling the archive, written in pieces of whole
    76-character lines."""
    f.write(part_header(b"page_files/object.bin", b"base64",
                        b"application/octet-stream"))
    piece = 57 * 20000  # input bytes of 20,000 lines
    while f.tell() < size:
        left = (size - f.tell()) * 3 // 4
        data = rng.randbytes(max(1, min(piece, left)))
        f.write(base64.encodebytes(data).replace(b"\n", b"\r\n"))
    f.write(b"\r\n")


def single_qp(f, rng, size):
    """One quoted-printable page filling the archive: a page's paragraphs
    again and again."""
    f.write(part_header(b"page.htm", b"quoted-printable",
                        b"text/html; charset=\"utf-8\""))
    text = binascii.b2a_qp(page_text(rng, 4 * 1000 * 1000), istext=True)
    while f.tell() + len(text) <= size:
        f.write(text)
    # Whole lines only, up to the size.
    f.write(text[:text.rfind(b"\r\n", 0, max(size - f.tell(), 0)) + 2])
    f.write(b"\r\n")


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    size = int(sys.argv[1]) * 1024 * 1024
    outdir = sys.argv[2]
    shape = sys.argv[3] if len(sys.argv) == 4 else "office"
    if shape not in ("office", "base64", "qp"):
        sys.exit(__doc__)
    os.makedirs(outdir, exist_ok=True)
    rng = random.Random(20261209)
    name = "archive-%s.mht" % sys.argv[1] if shape == "office" else \
        "archive-%s-%s.mht" % (shape, sys.argv[1])
    path = os.path.join(outdir, name)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(b"MIME-Version: 1.0\r\nX-Document-Type: Document\r\n"
                b"Content-Type: multipart/related; boundary=\"" + BOUNDARY +
                b"\"\r\n\r\nThis document is a Single File Web Page, also "
                b"known as a Web Archive file.\r\n\r\n")
        if shape != "office":
            (single_base64 if shape == "base64" else single_qp)(f, rng, size)
            f.write(b"--" + BOUNDARY + b"--\r\n")
    if shape != "office":
        finish(path, tmp, outdir)
        return
    with open(tmp, "ab") as f:
        f.write(part_header(b"page.htm", b"quoted-printable",
                            b"text/html; charset=\"utf-8\""))
        f.write(binascii.b2a_qp(page_text(rng, PAGE_TEXT_BYTES), istext=True))
        f.write(b"\r\n")
        n = 0
        while f.tell() < size:
            n += 1
            left = (size - f.tell()) * 3 // 4
            image = rng.randbytes(min(IMAGE_BYTES, max(left, 1)))
            f.write(part_header(b"page_files/image%03d.png" % n, b"base64",
                                b"image/png"))
            f.write(base64.encodebytes(image).replace(b"\n", b"\r\n"))
            f.write(b"\r\n")
        f.write(b"--" + BOUNDARY + b"--\r\n")
    finish(path, tmp, outdir)


def finish(path, tmp, outdir):
    os.replace(tmp, path)
    with open(os.path.join(outdir, "base64.conf"), "wb") as f:
        f.write(b"".join(b"%d %c\n" % (i, c)
                         for i, c in enumerate(RFC_ALPHABET) if i > 0))
    print(path)


if __name__ == "__main__":
    main()
