"""End to end: how an archive is cut into parts and where they are written.

Run: python3 test_parts.py [path/to/mimeunpack]
"""

import base64
import binascii
import os
import resource
import signal
import sys
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import BOUNDARY, progress, writing  # noqa: E402

B64 = b"base64"
QP = b"quoted-printable"
FORMAT = b"Chyba. Soubor zrejme nema spravny format.\n"
LOCATION = b"Content-Location: file:///C:/"  # 29 characters

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                        "examples")


def ok_stdout(*names, archive="a.mht"):
    """stdout of a clean run of one archive writing (path, is_base64)..."""
    return progress(1, archive) + h.conf_echo() + b"".join(
        writing(p, e) for p, e in names)


def long_path(length):
    """A relative path of exactly `length` bytes in components of at most
    200, so it fits the file system's name limit."""
    parts, left = [], length
    while left > 201:
        parts.append(b"d" * 200)
        left -= 201
    parts.append(b"f" * left)
    return b"/".join(parts)


class Example(unittest.TestCase):

    def test_shipped_example(self):
        with open(os.path.join(EXAMPLES, "report.mht"), "rb") as f:
            arc = f.read()
        with open(os.path.join(EXAMPLES, "base64.conf"), "rb") as f:
            conf = f.read()
        self.assertEqual(conf, h.base64_conf())
        # Expected bytes from python's own decoders over each body (the
        # lines between the blank line after a part's header and the next
        # boundary line).
        sep = b"------=_NextPart_01DA0B1C.2E3F4A50"
        self.assertIn(b"\r\n", arc)  # the office layout: CRLF lines
        bodies = [p.split(b"\r\n\r\n", 1)[1]
                  for p in arc.split(sep + b"\r\n")[1:]]
        bodies[-1] = bodies[-1].split(sep + b"--")[0]
        r = h.run({"report.mht": arc}, args=["report.mht"])
        self.assertEqual(r.stdout, ok_stdout(
            (b"report.htm", 0), (b"report_files/image001.png", 1),
            (b"report_files/filelist.xml", 0), archive="report.mht"))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {
            "report.htm": binascii.a2b_qp(bodies[0]),
            "report_files": h.DIR,
            "report_files/image001.png": base64.b64decode(bodies[1]),
            "report_files/filelist.xml": binascii.a2b_qp(bodies[2]),
        })
        self.assertTrue(r.tree["report_files/image001.png"].startswith(
            b"\x89PNG\r\n\x1a\n"))


class Layout(unittest.TestCase):

    def test_lf_and_crlf_archives(self):
        for nl in (b"\n", b"\r\n"):
            with self.subTest(nl=nl):
                arc = h.archive([
                    (b"page.htm", QP, b"<p>a=3Db</p>" + nl + b"x=" + nl +
                     b"y" + nl),
                    (b"img/p.bin", B64, b"AAEC" + nl + b"/w==" + nl),
                ], nl=nl)
                r = h.run({"a.mht": arc})
                self.assertEqual(r.stdout, ok_stdout((b"page.htm", 0),
                                                     (b"img/p.bin", 1)))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {
                    "page.htm": b"<p>a=b</p>" + nl + b"xy" + nl,
                    "img": h.DIR, "img/p.bin": b"\x00\x01\x02\xff"})

    def test_encoding_line(self):
        # "base64" anywhere on the second line, in lower case only.
        cases = [(b"Content-Transfer-Encoding: base64", 1, b"ABC"),
                 (b"X: xbase64y", 1, b"ABC"),
                 (b"Content-Transfer-Encoding: BASE64", 0, b"QUJD\n"),
                 (b"Content-Transfer-Encoding: 7bit", 0, b"QUJD\n")]
        for line, enc, out in cases:
            with self.subTest(line=line):
                part = (LOCATION + b"o.bin\n" + line +
                        b"\nContent-Type: x\n\nQUJD\n")
                r = h.run({"a.mht": h.archive([part])})
                self.assertEqual(r.stdout, ok_stdout((b"o.bin", enc)))
                self.assertEqual(r.created(), {"o.bin": out})

    def test_header_lines_three_and_four_are_not_examined(self):
        part = (LOCATION + b"o.txt\nContent-Transfer-Encoding: base64\n"
                b"anything at all\nnot blank either\nQUJD\n")
        r = h.run({"a.mht": h.archive([part])})
        self.assertEqual(r.created(), {"o.txt": b"ABC"})

    def test_body_line_holding_the_boundary_ends_the_part(self):
        arc = h.archive([
            (b"one.txt", QP, b"first\nxx" + BOUNDARY + b"yy\n" + LOCATION +
             b"two.txt\nContent-Transfer-Encoding: quoted-printable\n\n\n"
             b"second\n")])
        r = h.run({"a.mht": arc})
        self.assertEqual(r.stdout, ok_stdout((b"one.txt", 0), (b"two.txt", 0)))
        self.assertEqual(r.created(), {"one.txt": b"first\n",
                                       "two.txt": b"second\n"})

    def test_nested_and_plain_paths(self):
        arc = h.archive([(b"top.txt", QP, b"t\n"),
                         (b"a/b/c/d.txt", QP, b"d\n"),
                         (b"a/b/e.txt", QP, b"e\n"),
                         (b"./dot.txt", QP, b"dot\n"),
                         (b"...", QP, b"three dots\n"),
                         (b"..x/x..", QP, b"not a parent\n")])
        r = h.run({"a.mht": arc})
        self.assertEqual(r.stdout, ok_stdout(
            (b"top.txt", 0), (b"a/b/c/d.txt", 0), (b"a/b/e.txt", 0),
            (b"./dot.txt", 0), (b"...", 0), (b"..x/x..", 0)))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {
            "top.txt": b"t\n", "a": h.DIR, "a/b": h.DIR, "a/b/c": h.DIR,
            "a/b/c/d.txt": b"d\n", "a/b/e.txt": b"e\n", "dot.txt": b"dot\n",
            "...": b"three dots\n", "..x": h.DIR,
            "..x/x..": b"not a parent\n"})

    def test_same_path_twice_second_wins(self):
        arc = h.archive([(b"d/same.txt", QP, b"a longer first text\n"),
                         (b"d/same.txt", B64, b"QUJD\n")])
        r = h.run({"a.mht": arc})
        self.assertEqual(r.stdout, ok_stdout((b"d/same.txt", 0),
                                             (b"d/same.txt", 1)))
        self.assertEqual(r.created(), {"d": h.DIR, "d/same.txt": b"ABC"})

    def test_existing_output_is_replaced(self):
        r = h.run({"a.mht": h.archive([(b"d/o.txt", QP, b"new\n")])},
                  files={"d/o.txt": b"old contents, longer\n"})
        self.assertEqual(r.status, 0)
        self.assertEqual(r.tree["d/o.txt"], b"new\n")


class PartEnds(unittest.TestCase):

    def test_empty_parts_are_written_and_the_run_goes_on(self):
        arc = h.archive([
            (b"e1.txt", QP, b""),
            (b"e2.bin", B64, b""),
            (b"e3.bin", B64, b"\n\r\n\n"),
            (b"full.txt", QP, b"x\n"),
            (b"e4.txt", QP, b""),  # right before the close delimiter
        ])
        r = h.run({"a.mht": arc})
        self.assertEqual(r.stdout, ok_stdout(
            (b"e1.txt", 0), (b"e2.bin", 1), (b"e3.bin", 1), (b"full.txt", 0),
            (b"e4.txt", 0)))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {"e1.txt": b"", "e2.bin": b"",
                                       "e3.bin": b"", "full.txt": b"x\n",
                                       "e4.txt": b""})

    def test_part_cut_off_by_the_end_of_the_archive(self):
        head = LOCATION + b"cut.txt\nContent-Transfer-Encoding: "
        cases = [
            ("after the encoding line", head + b"quoted-printable\n", b""),
            ("after the encoding line, no LF", head + b"quoted-printable",
             b""),
            ("after header line 3", head + b"quoted-printable\nX: y\n", b""),
            ("inside the body", head + b"quoted-printable\n\n\nab\ncd", b"ab\ncd"),
            ("inside a base64 body", head + b"base64\n\n\nQUJD\nRA", b"ABCD"),
        ]
        for name, part, out in cases:
            with self.subTest(name):
                arc = h.archive([(b"first.txt", QP, b"1\n"), part],
                                close=False)
                r = h.run({"a.mht": arc})
                enc = 1 if b"base64" in part else 0
                self.assertEqual(r.stdout, ok_stdout((b"first.txt", 0),
                                                     (b"cut.txt", enc)))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {"first.txt": b"1\n",
                                               "cut.txt": out})

    def test_epilogue_is_never_read_as_parts(self):
        evil = (b"--" + BOUNDARY + b"\n" + LOCATION + b"evil.txt\n"
                b"Content-Transfer-Encoding: base64\n\n\nQUJD\n"
                b"--" + BOUNDARY + b"\n" + LOCATION + b"\n")
        for nl in (b"\n", b"\r\n"):
            with self.subTest(nl=nl):
                arc = h.archive([(b"a.txt", QP, b"a" + nl)], nl=nl,
                                epilogue=b"epilogue" + nl + evil)
                r = h.run({"a.mht": arc})
                self.assertEqual(r.stdout, ok_stdout((b"a.txt", 0)))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {"a.txt": b"a" + nl})

    def test_only_a_line_starting_with_the_close_delimiter_ends_the_parts(self):
        # Where a location line stands, only "--B--" at the line's start ends
        # the parts; a path may hold the boundary and "--" anywhere else.
        later = (b"later.txt", QP, b"2\n")
        paths = [b"d/simple--v2.txt", b"simple--", b"--simple--.txt",
                 b"a --simple-- b.txt", b"simple---"]
        for path in paths:
            with self.subTest(path=path):
                arc = h.archive([(path, QP, b"1\n"), later], boundary=b"simple")
                r = h.run({"a.mht": arc})
                self.assertEqual(r.stdout, ok_stdout((path, 0),
                                                     (b"later.txt", 0)))
                self.assertEqual(r.status, 0)
                made = r.created()
                self.assertEqual(made.pop(path.decode()), b"1\n")
                self.assertEqual(made.pop("later.txt"), b"2\n")
                self.assertTrue(all(v is h.DIR for v in made.values()), made)
        for close in (b"--simple--\n", b"--simple--  \r\n", b"--simple--x\n"):
            with self.subTest(close=close):
                arc = h.archive([(b"a.txt", QP, b"1\n"), close + LOCATION +
                                 b"never.txt\nenc\n\n\nno\n"],
                                boundary=b"simple", close=False)
                r = h.run({"a.mht": arc})
                self.assertEqual(r.stdout, ok_stdout((b"a.txt", 0)))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {"a.txt": b"1\n"})

    def test_trailing_blank_line_after_the_last_boundary(self):
        # A last separator line followed only by a blank line: no part
        # follows and the run ends quietly, with or without a close "--".
        for tail in (b"--B\n\n", b"--B\n\r\n", b"--B--\n\n", b"--B\n \n"):
            tail = tail.replace(b"B", BOUNDARY)
            with self.subTest(tail=tail):
                arc = h.archive([(b"a.txt", QP, b"a\n")], close=False) + tail
                r = h.run({"a.mht": arc})
                self.assertEqual(r.stdout, ok_stdout((b"a.txt", 0)))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {"a.txt": b"a\n"})

    def test_short_location_line_at_the_end_ends_quietly(self):
        for tail in (b"x\n", b"x\nenc\n", b"x\nenc\nh3\n", b"x\nenc\nh3\nh4\n",
                     LOCATION + b"\nContent-Transfer-Encoding: base64\n\n\n"):
            with self.subTest(tail=tail):
                arc = (h.archive([(b"a.txt", QP, b"a\n")], close=False) +
                       b"--" + BOUNDARY + b"\n" + tail)
                r = h.run({"a.mht": arc})
                self.assertEqual(r.stdout, ok_stdout((b"a.txt", 0)))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {"a.txt": b"a\n"})

    def test_short_location_line_followed_by_a_body(self):
        cases = {
            "blank location line": b"\n",
            "29 characters": LOCATION + b"\n",
            "29 characters CRLF": LOCATION + b"\r\n",
            "short": b"Content-Location: x\n",
        }
        for name, location in cases.items():
            with self.subTest(name):
                part = (location + b"Content-Transfer-Encoding: base64\n"
                        b"Content-Type: x\n\nQUJD\n")
                arc = h.archive([(b"a.txt", QP, b"a\n"), part,
                                 (b"c.txt", QP, b"c\n")])
                r = h.run({"a.mht": arc})
                self.assertEqual(r.stdout,
                                 ok_stdout((b"a.txt", 0)) + FORMAT)
                self.assertEqual(r.status, 253)
                self.assertEqual(r.created(), {"a.txt": b"a\n"})

    def test_thirty_character_location_line_names_one_character(self):
        arc = h.archive([(b"z", QP, b"z\n")])
        r = h.run({"a.mht": arc})
        self.assertEqual(r.stdout, ok_stdout((b"z", 0)))
        self.assertEqual(r.created(), {"z": b"z\n"})

    def test_part_ending_after_its_location_line(self):
        for tail in (LOCATION + b"p.txt\n", LOCATION + b"p.txt"):
            with self.subTest(tail=tail):
                arc = (h.archive([(b"a.txt", QP, b"a\n")], close=False) +
                       b"--" + BOUNDARY + b"\n" + tail)
                r = h.run({"a.mht": arc})
                self.assertEqual(r.stdout, ok_stdout((b"a.txt", 0)) + FORMAT)
                self.assertEqual(r.status, 253)
                self.assertEqual(r.created(), {"a.txt": b"a\n"})


class LongLines(unittest.TestCase):
    """Lines whose length is near or at a multiple of 255 bytes come back
    whole, however they end."""

    LENGTHS = (254, 255, 256, 509, 510, 511, 765, 1000)

    def test_quoted_printable_body_lines(self):
        for nl in (b"\n", b"\r\n"):
            for n in self.LENGTHS:
                with self.subTest(nl=nl, length=n):
                    line = bytes(33 + i % 90 for i in range(n - len(nl)))
                    line = line.replace(b"=", b"+") + nl
                    arc = h.archive([(b"one.txt", QP, line),
                                     (b"two.txt", QP, line + line)], nl=nl)
                    r = h.run({"a.mht": arc})
                    self.assertEqual(r.stdout, ok_stdout((b"one.txt", 0),
                                                         (b"two.txt", 0)))
                    self.assertEqual(r.created(), {"one.txt": line,
                                                   "two.txt": line + line})

    def test_last_line_without_line_end(self):
        for n in self.LENGTHS:
            with self.subTest(length=n):
                line = b"x" * (n - 1) + b"y"
                arc = h.archive([(b"one.txt", QP, line)], close=False)
                r = h.run({"a.mht": arc})
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {"one.txt": line})

    def test_base64_body_lines(self):
        data = bytes((i * 7 + 3) % 256 for i in range(3000))
        text = base64.b64encode(data)
        for nl in (b"\n", b"\r\n"):
            for n in self.LENGTHS:
                with self.subTest(nl=nl, length=n):
                    w = n - len(nl)
                    body = b"".join(text[i:i + w] + nl
                                    for i in range(0, len(text), w))
                    arc = h.archive([(b"d.bin", B64, body),
                                     (b"e.bin", B64, b"QUJD" + nl)], nl=nl)
                    r = h.run({"a.mht": arc})
                    self.assertEqual(r.stdout, ok_stdout((b"d.bin", 1),
                                                         (b"e.bin", 1)))
                    self.assertEqual(r.created(), {"d.bin": data,
                                                   "e.bin": b"ABC"})

    def test_location_lines(self):
        for nl in (b"\n", b"\r\n"):
            for n in self.LENGTHS:
                with self.subTest(nl=nl, length=n):
                    path = long_path(n - len(LOCATION) - len(nl))
                    arc = h.archive([(path, QP, b"p" + nl),
                                     (b"next.txt", QP, b"n" + nl)], nl=nl)
                    r = h.run({"a.mht": arc})
                    self.assertEqual(r.stdout, ok_stdout((path, 0),
                                                         (b"next.txt", 0)))
                    self.assertEqual(r.status, 0)
                    self.assertEqual(r.created()[path.decode()], b"p" + nl)
                    self.assertEqual(r.created()["next.txt"], b"n" + nl)

    def test_long_header_lines(self):
        # Header lines of 255 and 510 bytes before and holding Content-Type.
        for n in (255, 510):
            with self.subTest(length=n):
                filler = b"X-Filler: " + b"f" * (n - 11) + b"\n"
                ct = b'Content-Type: multipart/related; boundary="B"'
                ct = ct + b" " * (n - 1 - len(ct)) + b"\n"
                arc = h.archive([(b"a.txt", QP, b"a\n")], boundary=b"B",
                                header=filler + ct + filler + b"\n")
                r = h.run({"a.mht": arc})
                self.assertEqual(r.stdout, ok_stdout((b"a.txt", 0)))
                self.assertEqual(r.created(), {"a.txt": b"a\n"})

    def test_nul_bytes_are_data(self):
        line = b"a\0b" + b"\0" * 300 + b"c\n"
        arc = h.archive([(b"q.txt", QP, line + b"\0\n"),
                         (b"r.txt", QP, b"r\n")])
        r = h.run({"a.mht": arc})
        self.assertEqual(r.stdout, ok_stdout((b"q.txt", 0), (b"r.txt", 0)))
        self.assertEqual(r.created(), {"q.txt": line + b"\0\n",
                                       "r.txt": b"r\n"})


class UnsafePaths(unittest.TestCase):

    def test_refused_before_anything_is_made(self):
        tag = uuid.uuid4().hex.encode()
        outside = b"/tmp/mimeunpack-e2e-abs-" + tag
        cases = [
            (outside + b"/x.txt", outside + b"/x.txt"),
            (b"/" + tag + b".txt", b"/" + tag + b".txt"),
            (b"..", b".."),
            (b"../mimeunpack-e2e-up-" + tag, b"../mimeunpack-e2e-up-" + tag),
            (b"a/../../mimeunpack-e2e-" + tag, b"a/../../mimeunpack-e2e-" + tag),
            (b"a/../b.txt", b"a/../b.txt"),
            (b"a/..", b"a/.."),
            (b"new/dir/x\0y/z", b"new/dir/x"),
            (b"n\0", b"n"),
        ]
        for path, shown in cases:
            for enc, body in ((QP, b"data\n"), (B64, b"QUJD\n")):
                with self.subTest(path=path, enc=enc):
                    arc = h.archive([(b"ok.txt", QP, b"ok\n"),
                                     (path, enc, body),
                                     (b"later.txt", QP, b"later\n")])
                    r = h.run({"a.mht": arc}, keep=True)
                    try:
                        self.assertEqual(
                            r.stdout, ok_stdout((b"ok.txt", 0)) +
                            b"Chyba. Cesta " + shown +
                            b" vede mimo aktualni adresar.\n")
                        self.assertEqual(r.status, 252)
                        self.assertEqual(r.created(), {"ok.txt": b"ok\n"})
                        parent = os.path.dirname(r.root)
                        self.assertFalse(os.path.lexists(outside))
                        self.assertFalse(os.path.lexists(
                            b"/" + tag + b".txt"))
                        self.assertEqual(
                            [n for n in os.listdir(parent)
                             if tag.decode() in n], [])
                    finally:
                        h.shutil.rmtree(r.root, ignore_errors=True)


class ShellCharacters(unittest.TestCase):

    def test_names_are_only_names(self):
        names = [
            b"with blank/a file.txt",
            b"x&touch PWNED1;y|z<w>v.txt",
            b"q\"u'o`touch PWNED2`.txt",
            b"$(touch PWNED3)/$HOME ${PATH}.txt",
            b"d;rm -rf x (1)/\\back\\slash*?.txt",
            b" lead/trail .txt",
        ]
        arc = h.archive([(n, QP, b"n%d\n" % i) for i, n in enumerate(names)])
        r = h.run({"a.mht": arc})
        self.assertEqual(r.stdout, ok_stdout(*[(n, 0) for n in names]))
        self.assertEqual(r.status, 0)
        expected = {n.decode(): b"n%d\n" % i for i, n in enumerate(names)}
        for d in (b"with blank", b"$(touch PWNED3)", b"d;rm -rf x (1)",
                  b" lead"):
            expected[d.decode()] = h.DIR
        self.assertEqual(r.created(), expected)


class OutputFailures(unittest.TestCase):

    def test_directory_where_a_file_must_go(self):
        for enc, body in ((QP, b"x\n"), (B64, b"QUJD\n"), (QP, b"")):
            with self.subTest(enc=enc, body=body):
                arc = h.archive([(b"a.txt", QP, b"a\n"),
                                 (b"sub/out", enc, body),
                                 (b"later.txt", QP, b"l\n")])
                r = h.run({"a.mht": arc},
                          files={"sub/out": h.DIR, "sub/out/keep": b"k"})
                self.assertEqual(r.stdout, ok_stdout(
                    (b"a.txt", 0), (b"sub/out", enc == B64)))
                self.assertEqual(r.status, 252)
                self.assertEqual(r.created(), {"a.txt": b"a\n"})

    def test_file_where_a_directory_must_go(self):
        arc = h.archive([(b"f/x.txt", QP, b"x\n")])
        r = h.run({"a.mht": arc}, files={"f": b"plain file"})
        self.assertEqual(r.stdout, ok_stdout((b"f/x.txt", 0)))
        self.assertEqual(r.status, 252)
        self.assertEqual(r.created(), {})

    def test_failed_write_keeps_what_was_there(self):
        # A file-size limit with SIGXFSZ ignored: past it a write fails
        # (EFBIG), as on a full disk. The limit is 1 byte, so the empty
        # first part is written and every later byte fails.
        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1, resource.RLIM_INFINITY))

        big = base64.encodebytes(bytes(range(256)) * 800)  # 200 KB
        old = b"the user's own file\n" * 1000
        cases = [(QP, b"x\n", None), (B64, b"QUI=\n", None), (B64, big, None),
                 (QP, b"y" * 70000 + b"\n", None), (QP, b"x\n", old),
                 (B64, big, old)]
        for enc, body, before in cases:
            with self.subTest(enc=enc, size=len(body), old=before is not None):
                arc = h.archive([(b"a.txt", QP, b""),
                                 (b"full.bin", enc, body),
                                 (b"later.txt", QP, b"l\n")])
                files = {"full.bin": before} if before else None
                r = h.run({"a.mht": arc}, files=files, preexec_fn=limit)
                self.assertEqual(r.stdout, ok_stdout(
                    (b"a.txt", 0), (b"full.bin", enc == B64)) +
                    b"Chyba. Zapis do souboru full.bin selhal.\n")
                self.assertEqual(r.status, 252)
                # The old file keeps its bytes; no temporary file stays.
                self.assertEqual(r.created(), {"a.txt": b""})


if __name__ == "__main__":
    h.main()
