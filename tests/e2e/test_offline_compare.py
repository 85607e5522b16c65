"""In a real browser: archives laid out as browsers save them (stylesheets
behind queries such as news.css?abc, css?family=Roboto and load.php?...,
a web font, pictures with queries), unpacked with --offline, render their
main page from disk as Chromium renders the archive itself: within 1% of
the pixels, the network blocked, and no file the tool wrote refused.

Run: python3 test_offline_compare.py [path/to/mimeunpack]
Exits 77 when Chromium is missing (Debian package chromium).
"""

import base64
import binascii
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import chromium_page  # noqa: E402
import harness as h  # noqa: E402

SIZE = (800, 1000)
MOST_DIFFERING = 0.01
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf"


def png(width, height, colours):
    """Horizontal stripes of `colours`, 8 rows each."""
    rows = b"".join(b"\0" + bytes(colours[(y // 8) % len(colours)]) * width
                    for y in range(height))
    return chromium_page.png_bytes(width, height, rows)


def woff(ttf):
    """The TrueType font `ttf` as WOFF 1.0: each table zlib-compressed."""
    count = struct.unpack(">H", ttf[4:6])[0]
    tables = []
    for i in range(count):
        tag, checksum, offset, length = struct.unpack(
            ">4sIII", ttf[12 + 16 * i:28 + 16 * i])
        data = ttf[offset:offset + length]
        packed = zlib.compress(data)
        tables.append((tag, checksum, data if len(packed) >= length else
                       packed, length))
    at = 44 + 20 * count
    directory, body = b"", b""
    for tag, checksum, data, length in tables:
        directory += struct.pack(">4sIIII", tag, at + len(body), len(data),
                                 length, checksum)
        body += data + b"\0" * (-len(data) % 4)
    total = at + len(body)
    header = struct.pack(">4s4sIHHIHHIIIII", b"wOFF", ttf[0:4], total, count,
                         0, len(ttf), 1, 0, 0, 0, 0, 0, 0)
    return header + directory + body


def part(kind, location, body, binary=False, frame=False):
    if binary:
        encoded = base64.encodebytes(body).replace(b"\n", b"\r\n")
        encoding = b"base64"
    else:
        encoded = binascii.b2a_qp(body.replace(b"\r\n", b"\n"),
                                  istext=True).replace(b"\n", b"\r\n")
        encoding = b"quoted-printable"
    # As Chromium saves them: the page names its frame.
    return (b"Content-Type: " + kind + b"\r\n" +
            (b"Content-ID: <frame-1@mhtml.blink>\r\n" if frame else b"") +
            b"Content-Transfer-Encoding: " + encoding + b"\r\n"
            b"Content-Location: " + location + b"\r\n\r\n" +
            encoded.rstrip(b"\r\n") + b"\r\n")


def mhtml(parts):
    """An archive as Chromium saves one: CRLF, multipart/related."""
    out = (b"From: <Saved by Blink>\r\n"
           b"Snapshot-Content-Location: https://news.example/today/\r\n"
           b"Subject: Zpravy\r\nDate: Thu, 10 Dec 2026 03:00:00 -0000\r\n"
           b"MIME-Version: 1.0\r\n"
           b"Content-Type: multipart/related;\r\n\ttype=\"text/html\";\r\n"
           b"\tboundary=\"----MultipartBoundary--x--\"\r\n\r\n\r\n")
    for p in parts:
        out += b"------MultipartBoundary--x--\r\n" + p
    return out + b"------MultipartBoundary--x----\r\n"


PAGE = b"""<!DOCTYPE html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="https://news.example/static/news.css?i3QZFyQGGg">
<link rel="stylesheet" href="https://fonts.example/css?family=Roboto">
<link rel="stylesheet"
 href="/w/load.php?debug=false&amp;lang=en&amp;modules=site|skin&amp;only=styles">
</head><body>
<header class="top">Zpravy dne</header>
<h1 class="title">Nadpis v pismu webu</h1>
<img src="/img/photo.png?w=320&amp;q=80" width="320" height="160">%s
<div class="box">Text v ramecku</div>
</body></html>
"""
NEWS_CSS = b"""body { margin: 0; background: #f0e8d0; font: 20px sans-serif }
.top { display: block; height: 160px; background: #203060; color: #fff;
       font-size: 48px; line-height: 160px; padding-left: 40px }
.box { width: 560px; height: 260px; margin: 20px;
       background: url(bg.png?x=1) }
"""
FONT_CSS = b"""@font-face { font-family: Webfont;
  src: url(https://fonts.example/s/web.woff?v=30) format("woff") }
.title { font-family: Webfont, monospace; font-size: 72px; color: #902020 }
"""
LOAD_CSS = b""".box { border: 24px solid #c03020; color: #ff0 }
img { display: block; margin: 10px 40px }
"""


def news_archive(extra_image=b"", extra_parts=()):
    with open(FONT, "rb") as f:
        font = woff(f.read())
    return mhtml([
        part(b"text/html", b"https://news.example/today/",
             PAGE % extra_image, frame=True),
        part(b"text/css", b"https://news.example/static/news.css?i3QZFyQGGg",
             NEWS_CSS),
        part(b"text/css", b"https://fonts.example/css?family=Roboto",
             FONT_CSS),
        part(b"text/css", b"https://news.example/w/load.php?debug=false&"
             b"lang=en&modules=site|skin&only=styles", LOAD_CSS),
        part(b"font/woff", b"https://fonts.example/s/web.woff?v=30", font,
             True),
        part(b"image/png", b"https://news.example/img/photo.png?w=320&q=80",
             png(320, 160, [(20, 140, 60), (240, 200, 40)]), True),
        part(b"image/png", b"https://news.example/static/bg.png?x=1",
             png(64, 64, [(90, 160, 220), (250, 250, 250)]), True),
        *extra_parts,
    ])


# The same page with a picture its <img crossorigin> asks for.
CROSSORIGIN = (
    b'\n<img crossorigin="" src="https://cdn.example/pic.png?v=2" '
    b'width="600" height="200">',
    [part(b"image/png", b"https://cdn.example/pic.png?v=2",
          png(600, 200, [(200, 30, 160), (30, 30, 30)]), True)])


class OfflineCompare(unittest.TestCase):
    def setUp(self):
        self.root = os.path.realpath(
            tempfile.mkdtemp(prefix="mimeunpack-compare-"))

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def unpack(self, archive, mode):
        """Unpacks into a directory of its own; the main page's path."""
        out = os.path.join(self.root, mode.strip("-"))
        os.mkdir(out)
        proc = subprocess.run([h.binary(), mode, "-C", out, archive],
                              cwd=self.root, capture_output=True,
                              timeout=h.TIMEOUT_SECONDS)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        return out, proc.stdout

    def compare(self, data):
        """(share of differing pixels, load of the unpacked page)."""
        archive = os.path.join(self.root, "news.mhtml")
        with open(archive, "wb") as f:
            f.write(data)
        reference = chromium_page.load_page(archive, size=SIZE)
        out, stdout = self.unpack(archive, "--offline")
        main = stdout.rsplit(b"Hlavni stranka: ", 1)[1].rstrip(b"\n")
        page = os.path.join(self.root, main.decode())
        self.assertTrue(page.startswith(out + "/"), page)
        load = chromium_page.load_page(page, size=SIZE)
        share = chromium_page.differing_share(reference.screenshot,
                                              load.screenshot)
        return share, load, archive

    def test_pages_render_as_their_archive(self):
        share, load, archive = self.compare(news_archive())
        self.assertEqual(load.failed(), [])
        self.assertEqual(load.blocked(), [])
        self.assertEqual(len(load.loaded()), 6, load.loaded())
        self.assertLessEqual(share, MOST_DIFFERING)
        # The comparison sees a page without its styles: --any-layout
        # alone leaves the references to the network.
        out, _ = self.unpack(archive, "--any-layout")
        bare = chromium_page.load_page(
            os.path.join(out, "news.example/today/index.html"), size=SIZE)
        reference = chromium_page.load_page(archive, size=SIZE)
        self.assertGreater(chromium_page.differing_share(
            reference.screenshot, bare.screenshot), 0.2)

    # A file on disk answers no cross-origin request: the rewriter drops
    # crossorigin from the elements whose reference it rewrites.
    def test_crossorigin_picture_is_not_refused(self):
        image, parts = CROSSORIGIN
        share, load, _ = self.compare(news_archive(image, parts))
        self.assertEqual(load.failed(), [])
        self.assertLessEqual(share, MOST_DIFFERING)


if __name__ == "__main__":
    if not chromium_page.chromium():
        print("test_offline_compare: chromium is not installed; skipped "
              "(Debian package chromium)", file=sys.stderr)
        sys.exit(chromium_page.SKIP)
    h.main()
