"""End to end: --single-file writes an archive's main page as one HTML file,
every part it refers to inline as a data: URI of the part's decoded bytes
(base64 as Python writes it), links and anything not in the archive as
they were, and says where the file is.

Run: python3 test_single_file.py [path/to/mimeunpack]
"""

import base64
import binascii
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness as h  # noqa: E402
from harness import progress  # noqa: E402

PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(256))
CSS = b"body{background:url(bg.png)}\r\n"


def part(ctype, encoding, location, body):
    """A part whose body is encoded here, as Python's modules encode it."""
    if encoding == b"base64":
        body = base64.encodebytes(body).replace(b"\n", b"\r\n")
    elif encoding == b"quoted-printable":
        body = binascii.b2a_qp(body.replace(b"\r\n", b"\n"), istext=True)
        body = body.replace(b"\n", b"\r\n")
    return (b"Content-Type: " + ctype + b"\r\nContent-Transfer-Encoding: " +
            encoding + b"\r\nContent-Location: " + location + b"\r\n\r\n" +
            body + b"\r\n")


def mime(*parts):
    out = (b"MIME-Version: 1.0\r\nContent-Type: multipart/related; "
           b'type="text/html"; boundary="--b--"\r\n\r\n')
    for p in parts:
        out += b"----b--\r\n" + p
    return out + b"----b----\r\n"


def data_uri(ctype, body):
    return b"data:" + ctype + b";base64," + base64.b64encode(body)


def page_archive(page, *more, charset=b"utf-8"):
    return mime(part(b"text/html; charset=" + charset, b"quoted-printable",
                     b"https://ex.example/dir/index.html", page), *more)


STYLE = part(b"text/css", b"base64", b"https://ex.example/dir/s.css", CSS)
IMAGE = part(b"image/png", b"base64", b"https://ex.example/img/a.png", PNG)
LATIN = part(b"text/css; charset=iso-8859-2", b"quoted-printable",
             b"https://ex.example/dir/l.css", b"p:before{content:'\xb9'}")

# name, page, more parts, expected page with data: URIs (None: as it was)
ROWS = [
    ("stylesheet, picture, srcset, style attribute",
     b'<link rel=stylesheet href="s.css"><img src="../img/a.png" '
     b'srcset="/img/a.png 2x, https://other.example/x.png 3x">'
     b"<p style='background:url(../img/a.png#f)'>",
     [STYLE, IMAGE],
     b'<link rel=stylesheet href="' + data_uri(b"text/css", CSS) +
     b'"><img src="' + data_uri(b"image/png", PNG) + b'" srcset="' +
     data_uri(b"image/png", PNG) + b' 2x, https://other.example/x.png 3x">'
     b"<p style='background:url(" + data_uri(b"image/png", PNG) + b"#f)'>"),
    ("a text part keeps its charset",
     b"<link rel=stylesheet href=l.css>", [LATIN],
     b"<link rel=stylesheet href=" +
     data_uri(b"text/css;charset=iso-8859-2", b"p:before{content:'\xb9'}") +
     b">"),
    ("links and what the archive lacks stay",
     b'<a href="../img/a.png">x</a><img src="b.png"><area href=s.css>',
     [STYLE, IMAGE], None),
    ("a type that could break out of the attribute is not written",
     b'<img src="t.bin">',
     [part(b'image/x&quot"', b"base64", b"https://ex.example/dir/t.bin",
           b"\x00\x01")],
     b'<img src="' + data_uri(b"application/octet-stream", b"\x00\x01") +
     b'">'),
    # As a browser saves a <style> element: at a cid: URL, against which no
    # reference can be read; the page that uses it is read against instead.
    ("a stylesheet at a cid: URL reads its references against its page",
     b'<link rel=stylesheet href="cid:css-1@mhtml.blink">',
     [part(b"text/css", b"quoted-printable", b"cid:css-1@mhtml.blink",
           b"p{background:url(../img/a.png)}"), IMAGE],
     b'<link rel=stylesheet href="' + data_uri(
         b"text/css", b"p{background:url(" + data_uri(b"image/png", PNG) +
         b")}") + b'">'),
    ("names from the archive are never paths",
     b'<img src="../../../../etc/x.png"><img src="/tmp/y.png">',
     [part(b"image/png", b"base64", b"https://ex.example/etc/x.png", PNG),
      part(b"image/png", b"base64", b"../../../tmp/y.png", PNG)],
     b'<img src="' + data_uri(b"image/png", PNG) + b'"><img src="/tmp/y.png">'),
]


def run(archive, args=("--single-file",), name=b"t.mht", **kw):
    return h.run({name.decode(): archive},
                 args=list(args) + [name.decode()], conf=None, **kw)


class SingleFile(unittest.TestCase):

    def test_rows(self):
        for name, page, more, expected in ROWS:
            with self.subTest(name):
                r = run(page_archive(page, *more))
                self.assertEqual(r.status, 0, r.stderr)
                self.assertEqual(r.created(),
                                 {"t.html": page if expected is None
                                  else expected})
                self.assertEqual(r.stdout, progress(1, "t.mht") +
                                 b"Zapis souboru t.html, enc: 2\n"
                                 b"Hlavni stranka: t.html\n")

    def test_base_is_dropped_and_links_made_absolute(self):
        page = (b'<base href="https://ex.example/dir/"><a href="x.html">'
                b'</a><img src="../img/a.png">')
        r = run(page_archive(page, IMAGE))
        self.assertEqual(r.created()["t.html"],
                         b'<base href=""><a href="https://ex.example/dir/'
                         b'x.html"></a><img src="' +
                         data_uri(b"image/png", PNG) + b'">')

    def test_directory_options_quiet_and_list(self):
        archive = page_archive(b"<img src=../img/a.png>", IMAGE)
        r = run(archive, args=("--single-file", "-d", "-C", "out"),
                files={"out/keep": b"k"})
        self.assertEqual(set(r.created()), {"out/t", "out/t/t.html"})
        self.assertIn(b"Hlavni stranka: out/t/t.html\n", r.stdout)
        r = run(archive, args=("--single-file", "-q"))
        # As under --offline, -q keeps the line that names the page.
        self.assertEqual(r.stdout, b"Hlavni stranka: t.html\n")
        self.assertEqual(set(r.created()), {"t.html"})
        size = len(b"<img src=" + data_uri(b"image/png", PNG) + b">")
        r = run(archive, args=("--single-file", "-l"))
        self.assertEqual(r.created(), {})
        self.assertEqual(
            r.stdout, progress(1, "t.mht") +
            b"   Velikost  Kodovani          Cesta\n"
            b"-----------  ----------------  -----\n" +
            b"%11d  base64            ex.example/img/a.png\n" % len(PNG) +
            b"%11d  bez dekodovani    t.html\n" % size +
            b"-----------                    -----\n" +
            b"%11d                    1 cast\n" % size)

    def test_stylesheets_and_frames_are_rewritten_first_and_cycles_cut(self):
        img = data_uri(b"image/png", PNG)
        second = b"@import url(s.css);p{background:url(../img/a.png)}"
        first = b'@import "t.css";'
        frame = b'<img src="a.png"><iframe src="index.html"></iframe>'
        page = (b"<link rel=stylesheet href=s.css>"
                b'<iframe src="../img/frame.html"></iframe>')
        archive = page_archive(
            page,
            part(b"text/css", b"base64", b"https://ex.example/dir/s.css",
                 first),
            part(b"text/css", b"quoted-printable",
                 b"https://ex.example/dir/t.css", second),
            part(b"text/html; charset=utf-8", b"base64",
                 b"https://ex.example/img/frame.html", frame),
            IMAGE)
        second_out = (b"@import url(s.css);p{background:url(" + img + b")}")
        first_out = b'@import "' + data_uri(b"text/css", second_out) + b'";'
        frame_out = b'<img src="' + img + b'"><iframe src="index.html"></iframe>'

        r = run(archive)
        self.assertEqual(r.status, 0, r.stderr)
        self.assertEqual(
            r.created()["t.html"],
            b"<link rel=stylesheet href=" + data_uri(b"text/css", first_out) +
            b'><iframe src="' +
            data_uri(b"text/html;charset=utf-8", frame_out) +
            b'"></iframe>')
        # One note for the archive, however many cycles it holds.
        self.assertEqual(r.stderr.count(b"Poznamka"), 1, r.stderr)
        self.assertIn(b"sam na sebe", r.stderr)

    def test_standard_output_for_one_archive(self):
        archive = page_archive(b"<img src=../img/a.png>", IMAGE)
        written = run(archive).created()["t.html"]
        r = run(archive, args=("--single-file=-",))
        self.assertEqual((r.status, r.stdout, r.created()), (0, written, {}))
        for args, names in ((("--single-file=-", "t.mht"), ["t.mht"]),
                            (("--single-file=x",), ["t.mht"])):
            with self.subTest(args):
                r = h.run({"t.mht": archive}, args=list(args) + names,
                          conf=None)
                self.assertEqual((r.status, r.created()), (255, {}))
                self.assertTrue(r.stdout.startswith(b"Chyba. "), r.stdout)

    def test_no_network_policy_first_in_the_head(self):
        policy = (b'<meta http-equiv="Content-Security-Policy" content="'
                  b"default-src data: 'unsafe-inline'\">")
        offline = policy.replace(b"data:", b"'self' file: data:")
        img = data_uri(b"image/png", PNG)
        for page, single, unpacked in (
                (b"<html><head><img src=../img/a.png>",
                 b"<html><head>" + policy + b"<img src=" + img + b">",
                 b"<html><head>" + offline + b"<img src=../img/a.png>"),
                (b"<!DOCTYPE html><body>x",
                 b"<!DOCTYPE html>" + policy + b"<body>x",
                 b"<!DOCTYPE html>" + offline + b"<body>x")):
            with self.subTest(page):
                archive = page_archive(page, IMAGE)
                r = run(archive, args=("--single-file", "--no-network"))
                self.assertEqual(r.created()["t.html"], single)
                r = run(archive, args=("--offline", "--no-network"))
                self.assertEqual(r.created()["ex.example/dir/index.html"],
                                 unpacked)
                # Without it, nothing is added.
                r = run(archive, args=("--offline",))
                self.assertNotIn(b"Content-Security-Policy",
                                 r.created()["ex.example/dir/index.html"])

    def test_an_archive_named_like_its_page_is_kept(self):
        archive = page_archive(b"<p>x")
        r = run(archive, name=b"t.html")
        self.assertEqual((r.status, r.created()), (252, {}))
        self.assertEqual(r.stdout, progress(1, "t.html") +
                         b"Zapis souboru t.html, enc: 2\n")

    def test_an_archive_without_a_page_writes_nothing(self):
        r = run(mime(IMAGE))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {})
        self.assertIn(b"nema stranku HTML", r.stderr)

    def test_a_large_part_streams_through(self):
        big = os.urandom(3 * 1024 * 1024 + 1)
        r = run(page_archive(b"<img src=../img/a.png>",
                             part(b"image/png", b"base64",
                                  b"https://ex.example/img/a.png", big)))
        self.assertEqual(r.created()["t.html"],
                         b"<img src=" + data_uri(b"image/png", big) + b">")


    def test_every_size_encodes_as_python_does(self):
        """Pictures of 0 to 300 bytes (each tail the encoder's blocks can
        leave) and one of 1 MiB, inlined as Python's base64 writes them;
        ctest runs this at each vector level."""
        sizes = list(range(301)) + [1024 * 1024 + 2]
        bodies = [os.urandom(n) for n in sizes]
        page = b"".join(b"<img src=p%d.png>" % n for n in range(len(sizes)))
        parts = [part(b"image/png", b"base64",
                      b"https://ex.example/dir/p%d.png" % n, body)
                 for n, body in enumerate(bodies)]
        r = run(page_archive(page, *parts))
        self.assertEqual(r.status, 0, r.stderr)
        self.assertEqual(r.created()["t.html"], b"".join(
            b"<img src=" + data_uri(b"image/png", body) + b">"
            for body in bodies))

    def test_references_repeated_past_the_budget_stay(self):
        """One 1 MiB picture named 2,000 times would make a 2.8 GB file
        from a 1.4 MB archive (a disk filled this way once): parts are
        inlined while they add up to 64 MiB plus 8 times the archive, then
        the references stay as they were, with one note."""
        big = os.urandom(1024 * 1024)
        page = b"<img src=../img/a.png>" * 2000
        r = run(page_archive(page, part(b"image/png", b"base64",
                                        b"https://ex.example/img/a.png",
                                        big)))
        self.assertEqual(r.status, 0)
        out = r.created()["t.html"]
        self.assertLess(len(out), 128 * 1024 * 1024)
        inlined = out.count(b"data:image/png")
        self.assertGreater(inlined, 10)
        self.assertEqual(inlined + out.count(b"<img src=../img/a.png>"), 2000)
        self.assertEqual(r.stderr.count(b"prilis mnohokrat"), 1)


if __name__ == "__main__":
    h.main()
