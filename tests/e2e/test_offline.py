"""End to end: --offline points the references of HTML and CSS parts at the
files written for the parts they name, changes nothing else, and says where
the main page is; --any-layout alone writes the decoded bytes as they are.

Run: python3 test_offline.py [path/to/mimeunpack]
"""

import base64
import binascii
import os
import posixpath
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from urllib.parse import unquote

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness as h  # noqa: E402
from harness import progress  # noqa: E402

PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(64))


def part(headers, body):
    return b"\r\n".join(headers) + b"\r\n\r\n" + body + b"\r\n"


def mime(parts, start=b""):
    """A multipart/related archive with a folded Content-Type."""
    out = (b"From: <Saved by a browser>\r\nMIME-Version: 1.0\r\n"
           b"Content-Type: multipart/related;\r\n\ttype=\"text/html\";" +
           (b"\r\n\tstart=\"" + start + b"\";" if start else b"") +
           b"\r\n\tboundary=\"--b--\"\r\n\r\n")
    for p in parts:
        out += b"----b--\r\n" + p
    return out + b"----b----\r\n"


def qp(data):
    text = data.replace(b"\r\n", b"\n")
    return binascii.b2a_qp(text, istext=True).replace(b"\n", b"\r\n")


def b64(data):
    return base64.encodebytes(data).replace(b"\n", b"\r\n").rstrip(b"\r\n")


# Browser kind: https and cid locations, a <base href>, the main page named
# by "start" and not first, CSS with @import and url(), srcset, a style
# attribute, a page in a charset that is not rewritten.
FRAME = b'<p><img src="https://h.example/img/a.png"></p>\r\n'
PAGE = (b'<html><head><base href="https://H.example/assets/">\r\n'
        b"<link rel=stylesheet href='site.css'>\r\n"
        b'<link rel="icon" href="https://other.example/favicon.ico">\r\n'
        b"</head><body><h1>Caf\xc3\xa9</h1>\r\n"
        b'<iframe src="cid:frame@h"></iframe>\r\n'
        b'<IMG SRC = "cid:logo%40h" alt=logo>\r\n'
        b'<img srcset="pics/b.png 1x, ../img/a.png#x 2x" src="/img/a.png">\r\n'
        b'<a href="#top">top</a> <a href="https://h.example/img/gone.png">g</a>\r\n'
        b"<div style=\"background: url('/img/a.png')\">x</div>\r\n"
        b"</body></html>\r\n")
PAGE_OFFLINE = (b'<html><head><base href="">\r\n'
                b"<link rel=stylesheet href='../assets/site.css'>\r\n"
                b'<link rel="icon" href="https://other.example/favicon.ico">\r\n'
                b"</head><body><h1>Caf\xc3\xa9</h1>\r\n"
                b'<iframe src="../frame.html"></iframe>\r\n'
                b'<IMG SRC = "../../cid/logo@h.png" alt=logo>\r\n'
                # Not held: written absolute, as the lost base meant it.
                b'<img srcset="https://H.example/assets/pics/b.png 1x, '
                b'../img/a.png#x 2x" src="../img/a.png">\r\n'
                b'<a href="#top">top</a> '
                b'<a href="https://h.example/img/gone.png">g</a>\r\n'
                b"<div style=\"background: url('../img/a.png')\">x</div>\r\n"
                b"</body></html>\r\n")
SITE_CSS = (b'@import "print.css";\r\n'
            b"@import url(https://h.example/assets/print.css) print;\r\n"
            b"body { background: url( /img/a.png ) }\r\n"
            b".x { background: url(https://cdn.example/none.png) }")
SITE_CSS_OFFLINE = (b'@import "print.css";\r\n'
                    b"@import url(print.css) print;\r\n"
                    b"body { background: url( ../img/a.png ) }\r\n"
                    b".x { background: url(https://cdn.example/none.png) }")
ODD_CSS = b"a{background:url(/img/a.png)}"

BROWSER = mime([
    part([b"Content-Type: text/html", b"Content-ID: <frame@h>",
          b"Content-Location: https://h.example/frame.html"], FRAME),
    part([b"Content-Type: text/html; charset=utf-8", b"Content-ID: <page@h>",
          b"Content-Transfer-Encoding: quoted-printable",
          b"Content-Location: https://h.example/dir/index.html"], qp(PAGE)),
    part([b"Content-Type: text/css",
          b"Content-Location: https://h.example/assets/site.css"], SITE_CSS),
    part([b"Content-Type: text/css",
          b"Content-Location: https://h.example/assets/print.css"], b"img{}"),
    part([b"Content-Type: image/png", b"Content-Transfer-Encoding: base64",
          b"Content-Location: https://h.example/img/a.png"], b64(PNG)),
    part([b"Content-Type: image/png", b"Content-Transfer-Encoding: base64",
          b"Content-ID: <logo@h>"], b64(PNG[::-1])),
    part([b"Content-Type: text/css; charset=utf-7",
          b"Content-Location: https://h.example/assets/odd.css"], ODD_CSS),
], start=b"<page@h>")

# Office kind: file:///C:/ locations, relative references (already right on
# disk, rewritten to themselves), an absolute one in another spelling, a
# backslash, a legacy charset, an XML part that is never touched.
REPORT = (b"<html><head><link rel=File-List href=\"report_files/filelist.xml\">\r\n"
          b"<link rel=Stylesheet href=\"report_files/styles.css\">\r\n"
          b"</head><body lang=CS><p>Pl\xe1n \x9a\xe9</p>\r\n"
          b"<img width=10 src=\"report_files/image001.png\">\r\n"
          b"<v:imagedata src=\"report_files\\image001.png\" o:title=\"\"/>\r\n"
          b"<img src=\"FILE:///c:/Users/me/Doc/report_files/image001.png\">\r\n"
          b"<a href=\"../Other/notes.htm\">n</a>\r\n"
          b"</body></html>\r\n")
REPORT_OFFLINE = REPORT.replace(
    b"report_files\\image001", b"report_files/image001").replace(
    b"FILE:///c:/Users/me/Doc/report_files/image001.png",
    b"report_files/image001.png")
STYLES = b"p { background: url(image001.png) }\r\n"
FILELIST = b"<xml><o:File HRef=\"../report.htm\"/></xml>\r\n"


def office_part(location, kind, encoding, body):
    return part([b"Content-Location: file:///C:/Users/me/Doc/" + location,
                 b"Content-Transfer-Encoding: " + encoding,
                 b"Content-Type: " + kind], body)


OFFICE = mime([
    office_part(b"report.htm", b"text/html; charset=\"windows-1250\"",
                b"quoted-printable", qp(REPORT)),
    office_part(b"report_files/image001.png", b"image/png", b"base64",
                b64(PNG)),
    office_part(b"report_files/styles.css", b"text/css", b"quoted-printable",
                qp(STYLES)),
    office_part(b"report_files/filelist.xml", b"text/xml; charset=\"utf-8\"",
                b"quoted-printable", qp(FILELIST)),
])

# Names under their type's extension, queries before it, and siblings
# below a name that is a file kept in one directory.
NAMES_PAGE = (b'<link rel=stylesheet href="../news.css?abc">'
              b'<link rel=stylesheet href="https://fonts.example/css?'
              b'family=Roboto">'
              b'<link rel=stylesheet href="/load.php?debug=false&amp;'
              b'lang=en&amp;modules=a|b">'
              b'<img src="/items/1.png?w=2"><img src="../items/2.png">'
              b'<a href="/items">i</a>\r\n')
NAMES_PAGE_OFFLINE = (
    b'<link rel=stylesheet href="../news_abc.css">'
    b'<link rel=stylesheet href="../../fonts.example/css_family=Roboto.css">'
    b'<link rel=stylesheet href="../load.php_debug=false_lang=en_modules='
    b'a_b.css">'
    b'<img src="../items-2/1_w=2.png"><img src="../items-2/2.png">'
    b'<a href="../items">i</a>\r\n')
NEWS_CSS = b'@font-face { src: url(f.woff2?v=3) }\r\n'


def web_part(location, kind, body):
    return part([b"Content-Type: " + kind,
                 b"Content-Location: " + location], body)


NAMES = mime([
    web_part(b"https://h/news/", b"text/html", NAMES_PAGE),
    web_part(b"https://h/news.css?abc", b"text/css", NEWS_CSS),
    web_part(b"https://fonts.example/css?family=Roboto", b"text/css", b"p{}"),
    web_part(b"https://h/load.php?debug=false&lang=en&modules=a|b",
             b"text/css", b"b{}"),
    web_part(b"https://h/f.woff2?v=3", b"font/woff2", b"wOF2"),
    web_part(b"https://h/items", b"application/octet-stream", b"list"),
    web_part(b"https://h/items/1.png?w=2", b"image/png", b"1"),
    web_part(b"https://h/items/2.png", b"image/png", b"2"),
])

# name, archive, [(file, enc, bytes with --any-layout, bytes with
# --offline)], main page, standard error with --offline.
ROWS = [
    ("browser.mht", BROWSER, [
        ("h.example/frame.html", 2, FRAME, b'<p><img src="img/a.png"></p>\r\n'),
        ("h.example/dir/index.html", 0, PAGE, PAGE_OFFLINE),
        ("h.example/assets/site.css", 2, SITE_CSS, SITE_CSS_OFFLINE),
        ("h.example/assets/print.css", 2, b"img{}", b"img{}"),
        ("h.example/img/a.png", 1, PNG, PNG),
        ("cid/logo@h.png", 1, PNG[::-1], PNG[::-1]),
        ("h.example/assets/odd.css", 2, ODD_CSS, ODD_CSS),
    ], "h.example/dir/index.html",
        b"Poznamka: odkazy v souboru h.example/assets/odd.css nejsou "
        b"prepsany, kodovani utf-7 neumim bezpecne zmenit.\n"),
    ("report.mht", OFFICE, [
        ("Users/me/Doc/report.htm", 0, REPORT, REPORT_OFFLINE),
        ("Users/me/Doc/report_files/image001.png", 1, PNG, PNG),
        ("Users/me/Doc/report_files/styles.css", 0, STYLES, STYLES),
        ("Users/me/Doc/report_files/filelist.xml", 0, FILELIST, FILELIST),
    ], "Users/me/Doc/report.htm", b""),    ("names.mht", NAMES, [
        ("h/news/index.html", 2, NAMES_PAGE, NAMES_PAGE_OFFLINE),
        ("h/news_abc.css", 2, NEWS_CSS,
         b'@font-face { src: url(f_v=3.woff2) }\r\n'),
        ("fonts.example/css_family=Roboto.css", 2, b"p{}", b"p{}"),
        ("h/load.php_debug=false_lang=en_modules=a_b.css", 2, b"b{}", b"b{}"),
        ("h/f_v=3.woff2", 2, b"wOF2", b"wOF2"),
        ("h/items", 2, b"list", b"list"),
        ("h/items-2/1_w=2.png", 2, b"1", b"1"),
        ("h/items-2/2.png", 2, b"2", b"2"),
    ], "h/news/index.html", b""),
]

REFERENCE = re.compile(
    rb"""(?:src|href|srcset)\s*=\s*(?:"([^"]*)"|'([^']*)')"""
    rb"""|url\(\s*['"]?([^'")\s]*)|@import\s+"([^"]*)\"""", re.I)


def relative_references(data):
    """Every relative reference of a page (srcset split into candidates),
    without its fragment; absolute ones and bare fragments are left out."""
    found = []
    for match in REFERENCE.finditer(data):
        value = next(g for g in match.groups() if g is not None)
        for candidate in value.split(b",") if b" " in value else [value]:
            ref = candidate.split()[0] if candidate.split() else b""
            ref = ref.split(b"#")[0]
            if ref and not re.match(rb"^[a-zA-Z][a-zA-Z0-9+.-]*:", ref):
                found.append(ref.decode("latin-1"))
    return found


def unpack(name, data, mode):
    """stdout, stderr, shell status and every file written (path -> bytes)."""
    root = tempfile.mkdtemp(prefix="mimeunpack-offline-")
    try:
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
        proc = subprocess.run([h.binary(), mode, name], cwd=root,
                              capture_output=True,
                              timeout=h.TIMEOUT_SECONDS)
        files = {k: v for k, v in h.snapshot(root).items()
                 if isinstance(v, bytes) and k != name}
        return proc.stdout, proc.stderr, proc.returncode, files
    finally:
        shutil.rmtree(root, ignore_errors=True)


class Offline(unittest.TestCase):
    def test_archive_kinds(self):
        for name, data, parts, main, stderr in ROWS:
            writing = progress(1, name) + b"".join(
                b"Zapis souboru %s, enc: %d\n" % (p.encode(), e)
                for p, e, _, _ in parts)
            with self.subTest(name, mode="--offline"):
                out, err, status, files = unpack(name, data, "--offline")
                self.assertEqual(status, 0)
                # The main page is said last, after every part.
                self.assertEqual(out, writing + b"Hlavni stranka: " +
                                 main.encode() + b"\n")
                self.assertEqual(err, stderr)
                self.assertEqual(files, {p: o for p, _, _, o in parts})
                # What a rewritten reference names is a file written here.
                originals = {p: a for p, _, a, _ in parts}
                for page, body in files.items():
                    if body == originals[page] or not page.endswith(
                            (".html", ".htm", ".css")):
                        continue
                    for ref in relative_references(body):
                        if ref in ("pics/b.png", "../Other/notes.htm"):
                            continue  # not held, left as it was
                        target = posixpath.normpath(posixpath.join(
                            posixpath.dirname(page), unquote(ref)))
                        self.assertIn(target, files, (page, ref))
            with self.subTest(name, mode="--any-layout"):
                out, err, status, files = unpack(name, data, "--any-layout")
                self.assertEqual(status, 0)
                self.assertEqual(out, writing)
                self.assertEqual(err, b"")
                self.assertEqual(files, {p: a for p, _, a, _ in parts})

    def test_main_page_falls_back_to_the_first_html_part(self):
        data = mime([part([b"Content-Type: text/plain"], b"x"),
                     part([b"Content-Type: text/html",
                           b"Content-Location: https://h/a/"], b"<p>"),
                     part([b"Content-Type: text/html"], b"<p>")],
                    start=b"<nowhere@h>")
        out, _, status, _ = unpack("s.mht", data, "--offline")
        self.assertEqual(status, 0)
        self.assertTrue(out.endswith(b"\nHlavni stranka: h/a/index.html\n"),
                        out)

    def test_stylesheet_at_a_cid_url_reads_against_its_page(self):
        # A browser saves a <style> as a part at a cid: URL; its url()s
        # are read against the page that uses it, and its <base href>.
        page = (b'<html><head><base href="https://h.example/b/">'
                b'<link rel="stylesheet" href="cid:css-1@mhtml.blink">'
                b'</head><body><p>x</p></body></html>')
        css = b"p { background: url(pic.png) }"
        data = mime([part([b"Content-Type: text/html",
                           b"Content-Location: https://h.example/a/"], page),
                     part([b"Content-Type: text/css",
                           b"Content-ID: <css-1@mhtml.blink>",
                           b"Content-Location: cid:css-1@mhtml.blink"], css),
                     part([b"Content-Type: image/png",
                           b"Content-Transfer-Encoding: base64",
                           b"Content-Location: https://h.example/b/pic.png"],
                          b64(PNG))])
        _, _, status, files = unpack("s.mht", data, "--offline")
        self.assertEqual(status, 0)
        [sheet] = [p for p in files if p.endswith(".css")]
        [ref] = re.findall(rb"url\(([^)]*)\)", files[sheet])
        target = posixpath.normpath(posixpath.join(
            posixpath.dirname(sheet), unquote(ref.decode())))
        self.assertEqual(files.get(target), PNG, (sheet, ref))


if __name__ == "__main__":
    h.main()
