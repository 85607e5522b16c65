"""End to end: --any-layout reads any MIME archive by its headers.

Run: python3 test_any_layout.py [path/to/mimeunpack]
"""

import base64
import binascii
import collections
import email
import os
import random
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
                (b"cid/img@h", 1, PNG),
                (b"h.example/load.php?x=1", 2, b"a{}"),
                (b"h.example/load.php?x=2", 2, b"b{}"),
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
        self.assertIn("h/etc/passwd", files)
        self.assertIn("etc/passwd", files)
        self.assertIn("x", files)
        self.assertEqual([f for f in files if f.startswith("same")],
                         ["same", "same-2", "same-3"])
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


if __name__ == "__main__":
    h.main()
