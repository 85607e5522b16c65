"""End to end: --any-layout reads any MIME archive by its headers.

Run: python3 test_any_layout.py [path/to/mimeunpack]
"""

import base64
import binascii
import collections
import email
import os
import random
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import progress  # noqa: E402

PNG = b"\x89PNG\r\n\x1a\n\x00\x01\x02" * 40


def browser_archive():
    """A browser's layout: folded Content-Type, https and cid locations, a
    Content-ID-only part, a nested alternative, 7bit, a query."""
    b64 = base64.encodebytes(PNG).replace(b"\n", b"\r\n")
    return (b"From: <Saved by a browser>\r\n"
            b"MIME-Version: 1.0\r\n"
            b"Content-Type: multipart/related;\r\n"
            b"\ttype=\"text/html\";\r\n"
            b"\tboundary=\"----B\"\r\n\r\n"
            b"------B\r\n"
            b"Content-Type: text/html\r\n"
            b"Content-ID: <frame-1@h>\r\n"
            b"Content-Transfer-Encoding: quoted-printable\r\n"
            b"Content-Location: https://h.example/\r\n\r\n"
            b"<p class=3D\"x\">caf=C3=A9=\r\n</p>\r\n"
            b"------B\r\n"
            b"content-transfer-encoding: base64\r\n"
            b"content-location: cid:img@h\r\n"
            b"content-type: image/png\r\n\r\n" + b64 +
            b"------B\r\n"
            b"Content-Type: text/css\r\n"
            b"Content-Location: https://h.example/load.php?x=1\r\n\r\n"
            b"a{}\r\n"
            b"------B\r\n"
            b"Content-Type: text/css\r\n"
            b"Content-Location: https://h.example/load.php?x=2\r\n\r\n"
            b"b{}\r\n"
            b"------B\r\n"
            b"Content-Type: multipart/alternative; boundary=in\r\n\r\n"
            b"--in\r\nContent-Type: text/plain\r\n"
            b"Content-Transfer-Encoding: 7bit\r\n\r\nplain\r\n"
            b"--in\r\nContent-Type: text/html\r\nContent-ID: <alt@h>\r\n\r\n"
            b"<b>x</b>\r\n--in--\r\n"
            b"------B--\r\n")


class AnyLayout(unittest.TestCase):
    def test_modes_and_archives(self):
        """stdout, status and the files written, one archive a row."""
        single = (b"MIME-Version: 1.0\n"
                  b"Content-Transfer-Encoding: quoted-printable\n"
                  b"Content-Type: text/html\n\n<html>=3D</html>\n")
        office = h.archive([(b"d/page.htm", b"quoted-printable", b"a=3Db\n"),
                            (b"d/page_files/i.png", b"base64",
                             base64.encodebytes(PNG))])
        rows = [
            ("browser", browser_archive(), 0, [
                (b"h.example/index.html", 0,
                 b"<p class=\"x\">caf\xc3\xa9</p>"),
                (b"cid/img@h.png", 1, PNG),
                (b"h.example/load.php_x=1.css", 2, b"a{}"),
                (b"h.example/load.php_x=2.css", 2, b"b{}"),
                (b"part-5.txt", 2, b"plain"),
                (b"cid/alt@h.html", 2, b"<b>x</b>"),
            ]),
            ("report.mht", single, 0, [(b"report.html", 0, b"<html>=</html>\n")]),
            ("office", office, 0, [(b"d/page.htm", 0, b"a=b"),
                                   (b"d/page_files/i.png", 1, PNG)]),
        ]
        for name, data, status, parts in rows:
            with self.subTest(name):
                r = h.run({name: data}, args=["--any-layout", name], conf=None)
                self.assertEqual(r.status, status)
                self.assertEqual(r.stdout, progress(1, name) + b"".join(
                    b"Zapis souboru %s, enc: %d\n" % (p, e)
                    for p, e, _ in parts))
                files = {k: v for k, v in r.created().items()
                         if isinstance(v, bytes)}
                self.assertEqual(files, {p.decode(): body
                                         for p, _, body in parts})

    def test_not_mime_is_refused(self):
        for data in (b"hello\nworld\n", b"", b"MIME-Version: 1.0\n\nx\n"):
            with self.subTest(data):
                r = h.run({"x.mht": data}, args=["-a", "x.mht"], conf=None)
                self.assertEqual(r.status, 253)
                self.assertEqual(r.stdout, progress(1, "x.mht") +
                                 b"Chyba. Soubor x.mht neni MIME archiv.\n")
                self.assertEqual(r.created(), {})

    def test_traversal_forms_stay_inside(self):
        locations = [b"http://h/../../etc/passwd", b"file:///etc/passwd",
                     b"%2e%2e/%2e%2e/x", b"..\\..\\x", b"/abs/x",
                     b"https://h/" + b"s" * 300 + b".png"]
        data = b"Content-Type: multipart/mixed; boundary=b\n\n" + b"".join(
            b"--b\nContent-Location: " + loc + b"\n\nx\n" for loc in locations
        ) + b"--b\nContent-Location: same\n\n1\n" * 3 + b"--b--\n"
        r = h.run({"t.mht": data}, args=["-a", "t.mht"], conf=None)
        self.assertEqual(r.status, 0)
        files = sorted(k for k, v in r.created().items()
                       if isinstance(v, bytes))
        self.assertEqual(len(files), len(locations) + 3)
        # MIME calls a part without a Content-Type text/plain.
        self.assertIn("h/etc/passwd.txt", files)
        self.assertIn("etc/passwd.txt", files)
        self.assertIn("x.txt", files)
        self.assertEqual([f for f in files if f.startswith("same")],
                         ["same-2.txt", "same-3.txt", "same.txt"])
        for f in files:
            self.assertTrue(all(len(c) <= 255 for c in f.split("/")), f)

    def test_parts_equal_python_email(self):
        """Random archives: the files hold what Python's email package
        decodes, part for part (as a multiset)."""
        rnd = random.Random(2611)
        for n in range(60):
            nl = rnd.choice([b"\r\n", b"\n"])
            parts = []
            for i in range(rnd.randint(1, 5)):
                body = bytes(rnd.randrange(256) for _ in range(
                    rnd.randint(0, 600)))
                enc = rnd.choice(["base64", "quoted-printable", "7bit"])
                if enc == "base64":
                    text = base64.encodebytes(body).replace(b"\n", nl)
                elif enc == "quoted-printable":
                    text = binascii.b2a_qp(body).replace(b"\n", nl)
                else:
                    text = body.replace(b"\r", b"").replace(b"\n", nl)
                    text = bytes(c for c in text if c not in (0x2d,))
                head = rnd.sample([b"Content-Transfer-Encoding: " +
                                   enc.encode(),
                                   b"Content-Type: application/x-b",
                                   b"Content-Location: https://h/%d" % i], 3)
                parts.append(b"--bb" + nl + nl.join(head) + nl + nl + text +
                             rnd.choice([b"", nl]))
            data = (b"Content-Type: multipart/related;" + nl +
                    b" boundary=\"bb\"" + nl + nl +
                    nl.join(parts) + nl + b"--bb--" + nl)
            msg = email.message_from_bytes(data)
            want = collections.Counter(
                q.get_payload(decode=True) or b"" for q in msg.walk()
                if not q.is_multipart())
            r = h.run({"r.mht": data}, args=["-a", "r.mht"], conf=None)
            self.assertEqual(r.status, 0, n)
            have = collections.Counter(
                v for k, v in r.created().items() if isinstance(v, bytes))
            self.assertEqual(have, want, n)


    def test_padding_and_stray_bytes_read_as_python_email(self):
        """Base64 bodies with "=" inside (each line padded on its own, as
        some encoders write), stray bytes and blanks: each file holds what
        Python's email package decodes, and no byte is made up for an "="
        (once, "QQ==QkI=" gave "A", a NUL and "BB")."""
        bodies = [
            b"QQ==\r\nQkI=\r\nQ0ND\r\n",
            b"QUJD\r\nRA==\r\nRUZH\r\n",
            b"QU JD\t!RA\r\n*==\r\n",
            b"QUJDRA=VG\r\n",
            b"QUJD=\r\nRUZH\r\n",
            base64.encodebytes(PNG).replace(b"\n", b" \r\n"),
        ]
        for n, body in enumerate(bodies):
            data = (b"Content-Type: multipart/related; boundary=bb\r\n\r\n"
                    b"--bb\r\nContent-Transfer-Encoding: base64\r\n"
                    b"Content-Type: application/x-b\r\n"
                    b"Content-Location: https://h/a.bin\r\n\r\n" + body +
                    b"--bb--\r\n")
            want = email.message_from_bytes(data).get_payload()[0] \
                .get_payload(decode=True)
            r = h.run({"r.mht": data}, args=["-a", "r.mht"], conf=None)
            self.assertEqual(r.status, 0, n)
            self.assertEqual(r.created()["h/a.bin"], want, n)


def option_archive():
    """A page, a picture in base64 (a last group of 3 without padding and a
    stray "!" that RFC 2045 skips) and a 7bit stylesheet."""
    pic = base64.b64encode(PNG[:100]).rstrip(b"=")
    pic = pic[:10] + b"!" + pic[10:]
    return (b"Content-Type: multipart/related;\r\n"
            b"\tboundary=\"B\"; start=\"<p@h>\"\r\n\r\n"
            b"--B\r\nContent-ID: <p@h>\r\nContent-Type: text/html\r\n"
            b"Content-Transfer-Encoding: quoted-printable\r\n"
            b"Content-Location: https://h.example/a/\r\n\r\n"
            b"<img src=3D\"https://h.example/i.png\"><link href=3D\"s.css\">"
            b"\r\n"
            b"--B\r\nContent-Location: https://h.example/i.png\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\n" + pic + b"\r\n"
            b"--B\r\nContent-Location: https://h.example/a/s.css\r\n"
            b"Content-Type: text/css\r\n\r\nb{}\r\n"
            b"--B--\r\n")


# What each part of option_archive() is written as: (path, enc, bytes).
OPTION_PARTS = [
    (b"h.example/a/index.html", 0,
     b"<img src=\"https://h.example/i.png\"><link href=\"s.css\">"),
    (b"h.example/i.png", 1, PNG[:100]),
    (b"h.example/a/s.css", 2, b"b{}"),
]
# The page as --offline writes it: references point at the files written.
OFFLINE_PAGE = b"<img src=\"../i.png\"><link href=\"s.css\">"


def tree(prefix, parts, page=None):
    """The files (and directories) option_archive() leaves under prefix."""
    out = {}
    for path, _, body in parts:
        full = prefix + path.decode()
        if page is not None and path.endswith(b".html"):
            body = page
        out[full] = body
        while "/" in full:
            full = full.rsplit("/", 1)[0]
            if full != "out":  # there before the run
                out[full] = h.DIR
    return out


def zapis(parts):
    return b"".join(b"Zapis souboru %s, enc: %d\n" % (p, e)
                    for p, e, _ in parts)


class Options(unittest.TestCase):
    def test_modes_with_every_option(self):
        """-a and --offline with -C, -d, -l, -q and -t: stdout, status and
        the tree; nothing but what the row names changes."""
        arc = option_archive()
        pro = progress(1, "b.mht")
        sizes = [(len(b), e, p) for p, e, b in OPTION_PARTS]
        listed = (b"   Velikost  Kodovani          Cesta\n"
                  b"-----------  ----------------  -----\n" + b"".join(
                      b"%11d  %-16s  %s\n" % (n, (b"quoted-printable",
                                                b"base64",
                                                b"bez dekodovani")[e], p)
                      for n, e, p in sizes) +
                  b"-----------                    -----\n" +
                  b"%11d                    3 casti\n"
                  % sum(n for n, _, _ in sizes))
        offline_sizes = [(len(OFFLINE_PAGE), 0, OPTION_PARTS[0][0])]
        offline_listed = listed.replace(b"%11d" % sizes[0][0],
                                        b"%11d" % offline_sizes[0][0], 1)
        offline_listed = offline_listed.replace(
            b"%11d                    3" % sum(n for n, _, _ in sizes),
            b"%11d                    3" % (sum(n for n, _, _ in sizes) -
                                            sizes[0][0] + len(OFFLINE_PAGE)))
        main = b"Hlavni stranka: %s\n"
        # (args, archive, extra files, stdout, status, tree made)
        rows = [
            (["-a", "-C", "out", "b.mht"], arc, {}, pro + zapis(OPTION_PARTS),
             0, tree("out/", OPTION_PARTS)),
            (["-a", "-d", "b.mht"], arc, {}, pro + zapis(OPTION_PARTS), 0,
             {"b": h.DIR, **tree("b/", OPTION_PARTS)}),
            (["-adC", "out", "b.mht"], arc, {}, pro + zapis(OPTION_PARTS), 0,
             {"out/b": h.DIR, **tree("out/b/", OPTION_PARTS)}),
            (["-a", "-l", "-C", "out", "b.mht"], arc, {}, pro + listed, 0,
             {}),
            # --offline -l: the page's size is that of its rewritten file.
            (["--offline", "-l", "b.mht"], arc, {}, pro + offline_listed, 0,
             {}),
            (["-aq", "b.mht"], arc, {}, b"", 0, tree("", OPTION_PARTS)),
            (["-aq", "x.mht"], arc, {"x.mht": b"plain text\n"},
             b"Chyba. Soubor x.mht neni MIME archiv.\n", 253, {}),
            # No -t: RFC 2045, and a broken base64.conf is never read.
            (["-a", "b.mht"], arc, {"base64.conf": b"1 \n"},
             pro + zapis(OPTION_PARTS), 0, tree("", OPTION_PARTS)),
            (["-a", "-t", "t.conf", "b.mht"], arc,
             {"t.conf": h.base64_conf()},
             pro + h.conf_echo() + zapis(OPTION_PARTS), 0,
             tree("", OPTION_PARTS)),
            (["-a", "-t", "gone.conf", "b.mht"], arc, {},
             pro + b"Chyba. Tabulka rozlozeni [gone.conf] nenalezena.\n",
             253, {}),
            (["--offline", "-C", "out", "b.mht"], arc, {},
             pro + zapis(OPTION_PARTS) +
             main % b"out/h.example/a/index.html", 0,
             tree("out/", OPTION_PARTS, OFFLINE_PAGE)),
            (["--offline", "-qdC", "out/", "b.mht"], arc, {},
             main % b"out/b/h.example/a/index.html", 0,
             {"out/b": h.DIR, **tree("out/b/", OPTION_PARTS, OFFLINE_PAGE)}),
        ]
        for args, data, files, stdout, status, made in rows:
            with self.subTest(args=args):
                r = h.run({"b.mht": data}, args=args, conf=None,
                          files=dict(files, out=h.DIR))
                self.assertEqual(r.stdout, stdout)
                self.assertEqual(r.status, status)
                self.assertEqual(r.created(), made)
                self.assertEqual(r.stderr, b"")

    def test_table_file_gives_the_alphabet(self):
        """-t FILE: base64 is read in FILE's alphabet, echoed as usual."""
        body = bytes(range(256)) * 3
        text = base64.encodebytes(body).swapcase()
        data = (b"Content-Type: multipart/mixed; boundary=b\n\n"
                b"--b\nContent-Location: x.bin\n"
                b"Content-Transfer-Encoding: base64\n\n" + text + b"--b--\n")
        conf = b"".join(b"%d %c\n" % (n, h.ALPHABET[n:n + 1].swapcase()[0])
                        for n in range(1, 64))
        echo = b"".join(b"Base64table [%c]  = %d\n"
                        % (h.ALPHABET[n:n + 1].swapcase()[0], n)
                        for n in range(1, 64)) + b"Base64 nahran...\n"
        r = h.run({"s.mht": data}, args=["-a", "--table=s.conf", "s.mht"],
                  conf=None, files={"s.conf": conf})
        self.assertEqual(r.stdout, progress(1, "s.mht") + echo +
                         b"Zapis souboru x.bin, enc: 1\n")
        self.assertEqual(r.created()["x.bin"], body)

    def test_listed_sizes_are_the_written_sizes(self):
        """-a -l: each size is the size of the file -a writes, base64 last
        groups of every length, with and without padding."""
        parts = []
        for i, text in enumerate([b"QUJD", b"QUJDRA==", b"QUJDRA", b"QUJDR",
                                  b"QUJDREU=", b"QU JD\r\nRE", b""]):
            parts.append(b"--b\nContent-Location: f%d\n"
                         b"Content-Transfer-Encoding: base64\n\n%s\n"
                         % (i, text))
        parts.append(b"--b\nContent-Location: q\n"
                     b"Content-Transfer-Encoding: quoted-printable\n\n"
                     b"a=3D=\nb=\n")
        data = (b"Content-Type: multipart/mixed; boundary=b\n\n" +
                b"".join(parts) + b"--b--\n")
        listed = h.run({"s.mht": data}, args=["-al", "s.mht"], conf=None)
        written = h.run({"s.mht": data}, args=["-a", "s.mht"], conf=None)
        self.assertEqual(listed.status, 0)
        self.assertEqual(listed.created(), {})
        sizes = {m[1].decode(): int(m[0]) for m in re.findall(
            rb"^ +(\d+)  \S+ *  (\S+)$", listed.stdout, re.M)}
        self.assertEqual(sizes, {k: len(v) for k, v in
                                 written.created().items()})

    def test_single_part_is_named_after_the_archive_stem(self):
        """A single part without a location takes the archive's name
        without its last extension, as -d names the archive's directory:
        never a name of dots alone."""
        data = b"Content-Type: text/plain\r\n\r\nhello\r\n"
        for archive, name in [("page.mht", "page.txt"),
                              ("a.b.mhtml", "a.b.txt"),
                              ("a..mht", "a..txt"),
                              ("..mht", "..mht.txt"),
                              ("...mht", "...mht.txt"),
                              (".mht", ".mht.txt")]:
            with self.subTest(archive=archive):
                r = h.run({archive: data}, args=["-a", "--", archive],
                          conf=None)
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {name: b"hello\r\n"})
                stem = name[:-len(".txt")]
                if stem == archive:
                    continue  # -d's directory would be the archive itself
                r = h.run({archive: data}, args=["-ad", "--", archive],
                          conf=None)
                self.assertEqual(r.created(),
                                 {stem: h.DIR, stem + "/" + name: b"hello\r\n"})


# The default mode's archives that --any-layout reads: the hint on standard
# error, standard output and status exactly as ever.
HINT = b"Tip: soubor %s ma jine rozlozeni casti; zkuste mimeunpack " \
       b"--any-layout.\n"
FOLDED = (b"Content-Type: multipart/related;\r\n\tboundary=\"B\"\r\n\r\n"
          b"--B\r\nContent-Location: file:///C:/a/page.htm\r\n"
          b"Content-Transfer-Encoding: quoted-printable\r\n"
          b"Content-Type: text/html\r\n\r\nx\r\n--B--\r\n")


class DefaultModeHint(unittest.TestCase):
    def test_hint_on_standard_error_only(self):
        good = h.archive([(b"a/page.htm", b"quoted-printable", b"x\n")])
        reordered = h.archive([
            b"Content-Type: text/html; charset=utf-8\n"
            b"Content-Location: https://h/\n"
            b"Content-Transfer-Encoding: quoted-printable\n\nx\n",
            b"Content-Type: text/css; charset=utf-8xxxx\nA\nB\n\ny\n"])
        format_fault = h.archive([b"short\nenc\nx\ny\nbody\n"])
        zapis_good = h.conf_echo() + b"Zapis souboru a/page.htm, enc: 0\n"
        # (name, archive, stdout after the progress line, status, hinted)
        rows = [
            ("folded", FOLDED, b"", 253, True),
            ("no content type", b"hello\nworld\n", b"", 253, True),
            ("empty boundary", b"Content-Type: x; boundary=\"\"\n", b"",
             253, True),
            ("format", format_fault,
             b"Chyba. Soubor zrejme nema spravny format.\n", 253, True),
            # Headers in another order: the junk name as ever, status 0;
            # two such parts, one hint.
            ("reordered", reordered, h.conf_echo() +
             b"Zapis souboru set=utf-8, enc: 0\n"
             b"Zapis souboru et=utf-8xxxx, enc: 0\n", 0, True),
            ("office", good, zapis_good, 0, False),
        ]
        for name, data, after, status, hinted in rows:
            with self.subTest(name):
                r = h.run({"a.mht": data})
                self.assertEqual(r.stdout, progress(1, "a.mht") + after)
                self.assertEqual(r.status, status)
                self.assertEqual(r.stderr, HINT % b"a.mht" if hinted else b"")
        # Once per archive: each of two archives gets its own.
        r = h.run({"a.mht": FOLDED, "b.mht": good}, args=["-l", "b.mht"])
        self.assertEqual(r.stderr, b"")
        r = h.run({"x.mht": format_fault, "y.mht": reordered},
                  args=["y.mht", "x.mht"])
        self.assertEqual(r.stderr, HINT % b"y.mht" + HINT % b"x.mht")
        self.assertEqual(r.status, 253)


if __name__ == "__main__":
    h.main()
