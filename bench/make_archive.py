#!/usr/bin/env python3
"""Writes a benchmark archive of about SIZE MiB in the shape office suites save:
a ~20 MB quoted-printable HTML page, then base64 images of ~2.5 MB each, CRLF
line ends, four header lines after every boundary line. Other shapes:
  base64   one base64 object (an embedded file) filling the archive
  qp       one long quoted-printable page filling the archive
  browser  a browser's layout (folded Content-Type, https locations, headers
           in a browser's order): a small page, then one base64 image filling
           the archive; read with -a or --offline
  page     a browser's layout: one quoted-printable HTML page filling the
           archive, full of references to the stylesheet and the picture
           after it; what --offline rewrites
  tiny     SIZE is a number of parts, not MiB: an office archive of that many
           parts of a few bytes each

usage: make_archive.py SIZE_MIB OUTPUT_DIR [office|base64|qp|browser|page|tiny]
Writes OUTPUT_DIR/archive-SIZE.mht (archive-SHAPE-SIZE.mht for the other
shapes) and OUTPUT_DIR/base64.conf (RFC 2045)."""

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


BROWSER_BOUNDARY = b"----MultipartBoundary--bEnChMaRk0123456789abcdefgh----"
SITE = b"https://example.org/gallery/"


def browser_header(f):
    f.write(b"From: <Saved by Blink>\r\n"
            b"Snapshot-Content-Location: " + SITE + b"\r\n"
            b"Subject: Gallery\r\n"
            b"Date: Wed, 9 Dec 2026 10:00:00 -0000\r\n"
            b"MIME-Version: 1.0\r\n"
            b"Content-Type: multipart/related;\r\n"
            b"\ttype=\"text/html\";\r\n"
            b"\tboundary=\"" + BROWSER_BOUNDARY + b"\"\r\n\r\n\r\n")


def browser_part(f, content_type, encoding, location, cid=None):
    f.write(b"--" + BROWSER_BOUNDARY + b"\r\n"
            b"Content-Type: " + content_type + b"\r\n")
    if cid:
        f.write(b"Content-ID: <" + cid + b">\r\n")
    f.write(b"Content-Transfer-Encoding: " + encoding + b"\r\n"
            b"Content-Location: " + location + b"\r\n\r\n")


def browser_page(rng, size):
    """A page whose paragraphs refer to the stylesheet and the picture in
    the forms --offline rewrites: absolute, relative and in a style."""
    out = [b"<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
           b"<link rel=\"stylesheet\" href=\"" + SITE + b"css/site.css\">"
           b"</head><body>\n"]
    total = len(out[0])
    n = 0
    while total < size:
        n += 1
        words = b" ".join(rng.choice(WORDS) for _ in range(rng.randint(5, 40)))
        para = (b"<div class=\"card\" style=\"background:url(img/photo.png)\">"
                b"<p>" + words + b"</p><img src=\"" + SITE + b"img/photo.png\" "
                b"alt=\"photo %d\"><a href=\"page%d.html\">more</a></div>\n"
                % (n, n % 100))
        out.append(para)
        total += len(para)
    return b"".join(out) + b"</body></html>\n"


def browser(f, rng, size, shape):
    """A browser's archive: a page, a stylesheet, a picture; either the
    picture or the page fills the archive."""
    browser_header(f)
    if shape == "page":
        text = binascii.b2a_qp(browser_page(rng, 4 * 1000 * 1000), istext=True)
        text = text.replace(b"\n", b"\r\n")
        browser_part(f, b"text/html", b"quoted-printable", SITE,
                     b"frame-0@mhtml.blink")
        while f.tell() + len(text) <= size:
            f.write(text)
        f.write(text[:text.rfind(b"\r\n", 0, max(size - f.tell(), 0)) + 2])
        f.write(b"\r\n")
    else:
        page = binascii.b2a_qp(browser_page(rng, 2000), istext=True)
        browser_part(f, b"text/html", b"quoted-printable", SITE,
                     b"frame-0@mhtml.blink")
        f.write(page.replace(b"\n", b"\r\n") + b"\r\n")
    browser_part(f, b"text/css", b"quoted-printable", SITE + b"css/site.css")
    f.write(b".card { background: url(\"../img/photo.png\"); }\r\n\r\n")
    browser_part(f, b"image/png", b"base64", SITE + b"img/photo.png")
    piece = 57 * 20000
    if shape == "page":
        f.write(base64.encodebytes(rng.randbytes(4096)).replace(b"\n", b"\r\n"))
    while shape != "page" and f.tell() < size:
        left = (size - f.tell()) * 3 // 4
        data = rng.randbytes(max(1, min(piece, left)))
        f.write(base64.encodebytes(data).replace(b"\n", b"\r\n"))
    f.write(b"\r\n--" + BROWSER_BOUNDARY + b"--\r\n")


def tiny(f, rng, parts):
    """Parts of a few bytes each, alternately quoted-printable and base64,
    spread over 100 directories."""
    for n in range(parts):
        if n % 2:
            f.write(part_header(b"page_files/d%02d/t%06d.bin" % (n % 100, n),
                                b"base64", b"application/octet-stream"))
            f.write(base64.encodebytes(rng.randbytes(12)).replace(b"\n", b"\r\n"))
        else:
            f.write(part_header(b"page_files/d%02d/t%06d.txt" % (n % 100, n),
                                b"quoted-printable", b"text/plain"))
            f.write(b"tiny part %d =3D small\r\n" % n)
        f.write(b"\r\n")
    f.write(b"--" + BOUNDARY + b"--\r\n")


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    size = int(sys.argv[1]) * 1024 * 1024
    outdir = sys.argv[2]
    shape = sys.argv[3] if len(sys.argv) == 4 else "office"
    if shape not in ("office", "base64", "qp", "browser", "page", "tiny"):
        sys.exit(__doc__)
    os.makedirs(outdir, exist_ok=True)
    rng = random.Random(20261209)
    name = "archive-%s.mht" % sys.argv[1] if shape == "office" else \
        "archive-%s-%s.mht" % (shape, sys.argv[1])
    path = os.path.join(outdir, name)
    tmp = path + ".tmp"
    if shape in ("browser", "page"):
        with open(tmp, "wb") as f:
            browser(f, rng, size, shape)
        finish(path, tmp, outdir)
        return
    with open(tmp, "wb") as f:
        f.write(b"MIME-Version: 1.0\r\nX-Document-Type: Document\r\n"
                b"Content-Type: multipart/related; boundary=\"" + BOUNDARY +
                b"\"\r\n\r\nThis document is a Single File Web Page, also "
                b"known as a Web Archive file.\r\n\r\n")
        if shape == "tiny":
            tiny(f, rng, int(sys.argv[1]))
        elif shape != "office":
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
