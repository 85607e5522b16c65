"""The browser harness itself, on a page written here: everything loads
from disk; a missing picture is reported; a request for the network is
blocked and reported.

Run: python3 test_chromium_page.py   (exits 77 when Chromium is missing)
"""

import os
import struct
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import chromium_page  # noqa: E402


def png():
    """A 1x1 RGB picture."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(b"\x00\xff\x80\x00")) +
            chunk(b"IEND", b""))


PAGE = (b"<!DOCTYPE html><html><head>"
        b"<link rel=stylesheet href=\"css/style.css\">"
        b"<script src=\"js/app.js\"></script></head><body>"
        b"<img src=\"img/a%20b.png\">EXTRA</body></html>")


class ChromiumPage(unittest.TestCase):

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="chromium-page-")
        self.root = self.dir.name
        self.write("css/style.css", b"body { background: url(../img/bg.png) }")
        self.write("js/app.js", b"document.title = 'ran';")
        self.write("img/a b.png", png())
        self.write("img/bg.png", png())

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def url(self, name):
        return "file://" + os.path.realpath(self.root) + "/" + name

    def open_page(self, extra=b""):
        self.write("page.html", PAGE.replace(b"EXTRA", extra))
        return chromium_page.load_page(os.path.join(self.root, "page.html"))

    def test_everything_on_disk_loads(self):
        load = self.open_page()
        self.assertEqual(load.failed(), [])
        self.assertEqual(sorted(load.loaded()),
                         sorted(self.url(n) for n in (
                             "css/style.css", "js/app.js", "img/a%20b.png",
                             "img/bg.png")))
        types = {r.url.rsplit("/", 1)[1]: r.type for r in load.requests}
        self.assertEqual(types, {"style.css": "Stylesheet", "app.js": "Script",
                                 "a%20b.png": "Image", "bg.png": "Image"})

    def test_a_missing_picture_is_reported(self):
        os.remove(os.path.join(self.root, "img", "bg.png"))
        load = self.open_page()
        self.assertEqual([url for url, _ in load.failed()],
                         [self.url("img/bg.png")])
        self.assertIn("FILE_NOT_FOUND", load.failed()[0][1])
        self.assertEqual(len(load.loaded()), 3)

    def test_the_network_is_blocked(self):
        load = self.open_page(b"<img src=\"https://example.com/x.png\">"
                              b"<img src=\"http://127.0.0.1:9/y.png\">")
        blocked = ["https://example.com/x.png", "http://127.0.0.1:9/y.png"]
        self.assertEqual(sorted(load.blocked()), sorted(blocked))
        self.assertEqual(sorted(url for url, _ in load.failed()),
                         sorted(blocked))
        self.assertEqual(len(load.loaded()), 4)


if __name__ == "__main__":
    if not chromium_page.chromium():
        print("test_chromium_page: chromium is not installed; skipped "
              "(Debian package chromium)", file=sys.stderr)
        sys.exit(chromium_page.SKIP)
    unittest.main()
