"""In a real browser, on archives Chromium saved itself: a small site served
here on 127.0.0.1 (frames with their own picture and stylesheet, a <style>
with a picture, which the browser saves as a stylesheet at a cid: URL, a
CSS @import chain with pictures at each step, srcset pictures, a web font,
a windows-1250 page naming a picture in Czech) is loaded in Chromium and
saved as MHTML (Page.captureSnapshot). The single file of each renders as
Chromium renders the saved archive, within 1% of the pixels and at least as
closely as the --offline directory does, and asks for none of the parts the
archive holds.

Run: python3 test_browser_saved.py [path/to/mimeunpack]
Exits 77 when Chromium is missing (Debian package chromium).
"""

import email
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import chromium_page  # noqa: E402
import harness as h  # noqa: E402
import local_site  # noqa: E402
import test_offline_compare as compare  # noqa: E402

HTML = "text/html"
CSS = "text/css"
PNG = "image/png"


def picture(*colours):
    return (PNG, compare.png(96, 64, list(colours)))


FRAME_PAGE = b"""<!DOCTYPE html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="frame.css"></head><body>
<p class="inside">Ramecek</p><img src="img/frame.png" width="192" height="128">
</body></html>"""
FRAME_CSS = b"""body { margin: 0; background: #d0f0d8 }
.inside { height: 80px; background: url(img/stripe.png); font: 32px serif }
"""
FRAME_FILES = {
    "/frame.html": (HTML, FRAME_PAGE),
    "/frame.css": (CSS, FRAME_CSS),
    "/img/frame.png": picture((200, 40, 40), (250, 220, 60)),
    "/img/stripe.png": picture((40, 60, 200), (255, 255, 255)),
}

IFRAME = {
    "/": (HTML, b"""<!DOCTYPE html><html><head><meta charset="utf-8">
<style>body { margin: 0; background: #fff8e0 url(img/side.png) repeat-y }
h1 { margin: 20px } iframe { width: 600px; height: 400px;
border: 6px solid #333 }</style>
</head><body><h1>Stranka s ramcem</h1><iframe src="frame.html"></iframe>
</body></html>"""),
    "/img/side.png": picture((120, 0, 160), (255, 255, 255)),
    **FRAME_FILES,
}

FRAMESET = {
    "/": (HTML, b"""<!DOCTYPE html PUBLIC "-//W3C//DTD HTML 4.01 Frameset//EN">
<html><head><meta charset="utf-8"></head>
<frameset cols="40%,60%"><frame src="menu.html"><frame src="frame.html">
</frameset></html>"""),
    "/menu.html": (HTML, b"""<!DOCTYPE html><html><head><meta charset="utf-8">
<style>body { background: #302050; color: #fff; font: 28px sans-serif }
</style></head><body><p>Nabidka</p>
<img src="img/menu.png" width="160" height="320"></body></html>"""),
    "/img/menu.png": picture((250, 120, 20), (20, 20, 20)),
    **FRAME_FILES,
}

IMPORTS = {
    "/": (HTML, b"""<!DOCTYPE html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="css/a.css"></head><body>
<div class="a">A</div><div class="b">B</div><div class="c">C</div>
</body></html>"""),
    "/css/a.css": (CSS, b"""@import "b.css";
body { margin: 0; font: 40px sans-serif }
.a { height: 200px; background: url(../img/a.png) }
"""),
    "/css/b.css": (CSS, b"""@import url(deeper/c.css);
.b { height: 200px; background: url("../img/b.png") }
"""),
    "/css/deeper/c.css": (CSS, b""".c { height: 200px;
  background: url('../../img/c.png') }
"""),
    "/img/a.png": picture((220, 30, 30), (255, 255, 255)),
    "/img/b.png": picture((30, 160, 30), (0, 0, 0)),
    "/img/c.png": picture((30, 30, 220), (250, 250, 0)),
}

SRCSET = {
    "/": (HTML, b"""<!DOCTYPE html><html><head><meta charset="utf-8">
<style>body { margin: 0 } img { display: block; width: 400px;
height: 200px; margin: 10px }</style></head><body>
<img src="img/small.png" srcset="img/small.png 1x, img/big.png 2x">
<img srcset="img/w400.png 400w, img/w800.png 800w" sizes="400px">
<picture><source srcset="img/source.png" type="image/png">
<img src="img/fallback.png"></picture>
</body></html>"""),
    "/img/small.png": picture((200, 0, 120), (255, 255, 255)),
    "/img/big.png": picture((0, 0, 0), (0, 255, 0)),
    "/img/w400.png": picture((0, 120, 200), (255, 200, 0)),
    "/img/w800.png": picture((0, 0, 0), (255, 0, 0)),
    "/img/source.png": picture((120, 60, 0), (200, 255, 200)),
    "/img/fallback.png": picture((0, 0, 0), (0, 0, 255)),
}


def font_site():
    with open(compare.FONT, "rb") as f:
        font = compare.woff(f.read())
    return {
        "/": (HTML, b"""<!DOCTYPE html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="fonts.css"></head><body>
<h1>Nadpis pismem webu</h1><p class="web">Odstavec pismem webu</p>
</body></html>"""),
        "/fonts.css": (CSS, b"""@font-face { font-family: Webfont;
  src: url(fonts/web.woff) format("woff") }
h1, .web { font-family: Webfont, monospace; font-size: 64px; color: #902020 }
"""),
        "/fonts/web.woff": ("font/woff", font),
    }


CZECH = "P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd k\u016f\u0148 " \
        "\u00fap\u011bl \u010f\u00e1belsk\u00e9 \u00f3dy"
# A picture named in Czech too: the page holds its name in windows-1250,
# the archive the UTF-8 the browser asked for.
PICTURE = "obr\u00e1zek \u017elut\u00fd.png"
WINDOWS_1250 = {
    "/": ("text/html", ("""<!DOCTYPE html><html><head>
<meta charset="windows-1250"><link rel="stylesheet" href="styl.css"></head>
<body><h1>%s</h1><p class="box">%s</p><img src="img/%s" width="192">
<div style="height: 128px; background: url('img/%s')"></div></body></html>"""
                          % (CZECH, CZECH.upper(), PICTURE, PICTURE)
                          ).encode("cp1250")),
    "/styl.css": (CSS, b"""h1 { font: 48px serif; color: #203060 }
.box { font: 32px sans-serif; height: 160px; background: url(img/box.png) }
"""),
    "/img/box.png": picture((240, 240, 180), (180, 220, 240)),
    "/img/" + urllib.parse.quote(PICTURE): picture((200, 0, 0), (0, 0, 0)),
}

# One row per page: (name, a function giving the site's files).
SITES = [
    ("iframe", lambda: IFRAME),
    ("frameset", lambda: FRAMESET),
    ("import_chain", lambda: IMPORTS),
    ("srcset", lambda: SRCSET),
    ("web_font", font_site),
    ("windows_1250", lambda: WINDOWS_1250),
]


class BrowserSaved(unittest.TestCase):
    def setUp(self):
        self.root = os.path.realpath(
            tempfile.mkdtemp(prefix="mimeunpack-saved-"))

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def unpack(self, archive, mode):
        out = os.path.join(self.root, os.path.basename(archive) + mode)
        os.mkdir(out)
        proc = subprocess.run([h.binary(), mode, "-C", out, archive],
                              cwd=self.root, capture_output=True,
                              timeout=h.TIMEOUT_SECONDS)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        main = proc.stdout.rsplit(b"Hlavni stranka: ", 1)[1].rstrip(b"\n")
        return os.path.join(self.root, main.decode())

    def save(self, name, files):
        """The archive Chromium saves of the site's main page."""
        with local_site.LocalSite(files) as site:
            saved, load = chromium_page.save_mhtml(site.url("/"),
                                                   allow=(site.origin,))
            self.assertEqual(load.failed(), [])
            self.assertIn("/", site.requests)
        archive = os.path.join(self.root, name + ".mhtml")
        with open(archive, "wb") as f:
            f.write(saved)
        return archive

    def bare_page(self, archive):
        """The main page alone, as Python's email package decodes it."""
        with open(archive, "rb") as f:
            message = email.message_from_binary_file(f)
        html = next(p for p in message.walk()
                    if p.get_content_type() == "text/html")
        path = archive + ".html"
        with open(path, "wb") as f:
            f.write(html.get_payload(decode=True))
        return path

    def test_single_file_renders_as_the_saved_archive(self):
        for name, files in SITES:
            with self.subTest(name):
                archive = self.save(name, files())
                reference = chromium_page.load_page(archive,
                                                    size=compare.SIZE)
                single = chromium_page.load_page(
                    self.unpack(archive, "--single-file"), size=compare.SIZE)
                offline = chromium_page.load_page(
                    self.unpack(archive, "--offline"), size=compare.SIZE)
                # The control: without its parts the page looks otherwise.
                bare = chromium_page.load_page(self.bare_page(archive),
                                               size=compare.SIZE)
                share, offline_share, bare_share = (
                    chromium_page.differing_share(reference.screenshot,
                                                  load.screenshot)
                    for load in (single, offline, bare))
                print("%s: differing pixels: single file %.4f, offline %.4f, "
                      "main page alone %.4f" % (name, share, offline_share,
                                                bare_share), file=sys.stderr)
                # Both closer than the harness's tolerance (a <style> saved
                # at a cid: URL reads against its page in either).
                self.assertLessEqual(share, compare.MOST_DIFFERING)
                self.assertLessEqual(offline_share, compare.MOST_DIFFERING)
                self.assertGreater(bare_share, compare.MOST_DIFFERING)
                self.assertEqual([r.url for r in single.requests], [])


if __name__ == "__main__":
    if not chromium_page.chromium():
        print("test_browser_saved: chromium is not installed; skipped "
              "(Debian package chromium)", file=sys.stderr)
        sys.exit(chromium_page.SKIP)
    h.main()
