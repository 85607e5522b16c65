"""End to end: options for scripts and batches (-k, --only, -n), one table per option,
each row checked for what a user sees (stdout bytes, status, the tree).

Run: python3 test_batch.py [path/to/mimeunpack]
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import progress, writing  # noqa: E402

QP = b"quoted-printable"
B64 = b"base64"
GOOD = h.archive([(b"g/one.txt", QP, b"one=3D1\n"),
                  (b"g/two.bin", B64, b"AAEC\n")])
GOOD_TREE = {"g": h.DIR, "g/one.txt": b"one=1\n", "g/two.bin": b"\0\1\2"}
REFUSED = h.archive([(b"ok.txt", QP, b"ok\n"), (b"../up.txt", QP, b"x\n")])
NO_HEADER = b"just text, no MIME header\n"

# name -> (what the run prints for it from its progress line on, status,
# what it leaves) when it comes after the table has been loaded.
FAILS = {
    "gone.mht": (b"Chyba. Nemohu otevrit souborgone.mht.\n", 254, {}),
    "refused.mht": (writing(b"ok.txt", 0) +
                    b"Chyba. Cesta ../up.txt vede mimo aktualni adresar.\n",
                    252, {"ok.txt": b"ok\n"}),
    "plain.mht": (b"", 253, {}),
}
UNPACKED = writing(b"g/one.txt", 0) + writing(b"g/two.bin", 1)


def total(done, failed):
    return b"Archivu zpracovano: %d, s chybou: %d\n" % (done, failed)


class KeepGoing(unittest.TestCase):

    def run_batch(self, args):
        return h.run({"a.mht": GOOD, "b.mht": GOOD, "refused.mht": REFUSED,
                      "plain.mht": NO_HEADER}, args=args)

    def test_a_failing_archive_first_middle_or_last(self):
        for bad in FAILS:
            for place in range(3):
                names = ["a.mht", "b.mht"]
                names.insert(place, bad)
                with self.subTest(bad=bad, place=place):
                    r = self.run_batch(["-k"] + names)
                    printed, status, left = FAILS[bad]
                    out = b""
                    echo = h.conf_echo()
                    for i, name in enumerate(names):
                        out += progress(3 - i, name)
                        if name == bad:
                            # The table is said at the first part read
                            # through, wherever that is.
                            if bad == "refused.mht" and echo:
                                out += echo
                                echo = b""
                            out += printed
                        else:
                            out += echo + UNPACKED
                            echo = b""
                    self.assertEqual(r.stdout, out + total(2, 1))
                    self.assertEqual(r.status, status)
                    self.assertEqual(r.created(), {**GOOD_TREE, **left})

    def test_status_is_the_first_failure_and_zero_without_one(self):
        cases = [
            (["-k", "gone.mht", "refused.mht", "a.mht"], 254, total(1, 2)),
            (["-kq", "refused.mht", "gone.mht"], 252, total(0, 2)),
            (["--keep-going", "-q", "a.mht", "b.mht"], 0, total(2, 0)),
        ]
        for args, status, last in cases:
            with self.subTest(args=args):
                r = self.run_batch(args)
                self.assertEqual(r.status, status)
                self.assertTrue(r.stdout.endswith(last), r.stdout)

    def test_without_k_the_first_failure_ends_the_run(self):
        r = self.run_batch(["refused.mht", "a.mht"])
        self.assertEqual(r.stdout, progress(2, "refused.mht") + h.conf_echo()
                         + FAILS["refused.mht"][0])
        self.assertEqual(r.status, 252)
        self.assertEqual(r.created(), {"ok.txt": b"ok\n"})

    def test_any_layout_and_listing_go_on_too(self):
        mime = (b"MIME-Version: 1.0\nContent-Type: text/plain\n"
                b"Content-Location: http://x/p.txt\n\nhello\n")
        cases = [
            (["-ak", "plain.mht", "m.mht"],
             progress(2, "plain.mht") +
             b"Chyba. Soubor plain.mht neni MIME archiv.\n" +
             progress(1, "m.mht") + b"Zapis souboru x/p.txt, enc: 2\n" + total(1, 1),
             253, {"x": h.DIR, "x/p.txt": b"hello\n"}),
            (["-lkq", "gone.mht", "refused.mht"],
             FAILS["gone.mht"][0] + b"   Velikost",
             254, {}),
        ]
        for args, printed, status, made in cases:
            with self.subTest(args=args):
                r = h.run({"plain.mht": NO_HEADER, "m.mht": mime,
                           "refused.mht": REFUSED}, args=args)
                self.assertTrue(r.stdout.startswith(printed), r.stdout)
                self.assertTrue(r.stdout.endswith(total(1, 1)), r.stdout)
                self.assertEqual(r.status, status)
                self.assertEqual(r.created(), made)

    def test_what_no_archive_escapes_still_ends_the_run(self):
        # A missing table or output directory would fail every archive.
        cases = [
            (["-k", "a.mht", "b.mht"], False,
             progress(2, "a.mht") +
             b"Chyba. Tabulka rozlozeni [base64.conf] nenalezena.\n", 253),
            (["-k", "-C", "nowhere", "a.mht"], True,
             b"Chyba. Nemohu otevrit adresar nowhere.\n", 254),
        ]
        for args, conf, printed, status in cases:
            with self.subTest(args=args):
                r = h.run({"a.mht": GOOD, "b.mht": GOOD}, args=args,
                          conf=conf)
                self.assertEqual(r.stdout, printed)
                self.assertEqual(r.status, status)
                self.assertEqual(r.created(), {})



def mime(parts):
    """A multipart/related archive of (location, type, encoding, body)."""
    out = (b"MIME-Version: 1.0\nContent-Type: multipart/related; "
           b'boundary="B"\n\n')
    for location, ctype, enc, body in parts:
        out += b"--B\n"
        if ctype:  # without one a part is text/plain
            out += b"Content-Type: " + ctype + b"\n"
        out += b"Content-Location: http://x/" + location + b"\n"
        if enc:
            out += b"Content-Transfer-Encoding: " + enc + b"\n"
        out += b"\n" + body + b"\n"
    return out + b"--B--\n"


PAGE = b'<img src="a.png"><link href="s.css"><script src="j.js"></script>'
SITE = mime([(b"index.html", b"text/html", b"", PAGE),
             (b"a.png", b"image/png", B64, b"AAEC"),
             (b"s.css", b"Text/CSS; charset=utf-8", b"", b"b{x:url(a.png)}"),
             (b"j.js", b"application/javascript", b"", b"var j;"),
             (b"n.txt", b"", b"", b"no type")])
SITE_FILES = {"x/index.html": PAGE, "x/a.png": b"\0\1\2",
              "x/s.css": b"b{x:url(a.png)}", "x/j.js": b"var j;",
              "x/n.txt": b"no type"}


class Only(unittest.TestCase):

    def test_only_the_parts_of_the_types_listed_are_written(self):
        cases = [
            ("image/*,text/css", ["x/a.png", "x/s.css"]),
            (" IMAGE/PNG ", ["x/a.png"]),
            ("application/*,text/plain", ["x/j.js", "x/n.txt"]),
            ("*/*", list(SITE_FILES)),
            ("audio/*", []),
        ]
        for types, kept in cases:
            with self.subTest(types=types):
                r = h.run({"s.mht": SITE}, args=["-aq", "--only", types,
                                                 "s.mht"])
                self.assertEqual(r.status, 0)
                self.assertEqual(r.stdout, b"")
                made = {p: SITE_FILES[p] for p in kept}
                if kept:
                    made["x"] = h.DIR
                self.assertEqual(r.created(), made)

    def test_listing_shows_only_those_parts(self):
        r = h.run({"s.mht": SITE},
                  args=["-alq", "--only=image/*,text/css", "s.mht"])
        self.assertEqual(r.stdout, (
            b"   Velikost  Kodovani          Cesta\n"
            b"-----------  ----------------  -----\n"
            b"          3  base64            x/a.png\n"
            b"         15  bez dekodovani    x/s.css\n"
            b"-----------                    -----\n"
            b"         18                    2 casti\n"))

    def test_offline_leaves_references_to_parts_left_out(self):
        # The page and the stylesheet point at a picture that is not
        # written: their references stay as they were.
        r = h.run({"s.mht": SITE},
                  args=["--offline", "-q", "--only", "text/*", "s.mht"])
        self.assertEqual(r.stdout, b"Hlavni stranka: x/index.html\n")
        self.assertEqual(r.created(), {
            "x": h.DIR, "x/index.html": PAGE, "x/s.css": b"b{x:url(a.png)}",
            "x/n.txt": b"no type"})

    def test_refused_lists_and_the_default_mode(self):
        cases = [
            (["--only", "image/*", "s.mht"],
             b"Chyba. Prepinac --only plati jen s -a nebo --offline.\n"),
            (["-a", "--only", "image", "s.mht"],
             b"Chyba. Neplatny seznam typu image. "
             b"Napoveda: mimeunpack --help\n"),
            (["-ak", "--only=image/*,", "s.mht"],
             b"Chyba. Neplatny seznam typu image/*,. "
             b"Napoveda: mimeunpack --help\n"),
        ]
        for args, printed in cases:
            with self.subTest(args=args):
                r = h.run({"s.mht": SITE}, args=args)
                self.assertEqual(r.stdout, printed)
                self.assertEqual(r.status, 255)
                self.assertEqual(r.created(), {})



def kept(path):
    return b"Soubor " + path + b" uz existuje, nezapsan.\n"


class NoClobber(unittest.TestCase):

    def test_default_mode_leaves_what_stands_and_skips_the_part(self):
        arc = h.archive([(b"p.txt", QP, b"new\n"), (b"d/q.txt", QP, b"q\n"),
                         (b"l.txt", QP, b"l\n"), (b"r.txt", QP, b"r\n")])
        # An existing file, a directory and a link (even a dangling one) at
        # a part's name all stay; a name that is free is written.
        tree = {"p.txt": b"old\n", "d/q.txt": h.DIR,
                "l.txt": h.Symlink("nowhere")}
        for args, echo in ((["-n", "a.mht"], True),
                           (["--no-clobber", "-q", "a.mht"], False)):
            with self.subTest(args=args):
                r = h.run({"a.mht": arc}, args=args, files=tree)
                out = kept(b"p.txt") + kept(b"d/q.txt") + kept(b"l.txt")
                if echo:
                    out = (progress(1, "a.mht") + h.conf_echo() +
                           writing(b"p.txt", 0) + kept(b"p.txt") +
                           writing(b"d/q.txt", 0) + kept(b"d/q.txt") +
                           writing(b"l.txt", 0) + kept(b"l.txt") +
                           writing(b"r.txt", 0))
                self.assertEqual(r.stdout, out)
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {"r.txt": b"r\n"})

    def test_without_n_the_file_is_replaced(self):
        arc = h.archive([(b"p.txt", QP, b"new\n")])
        r = h.run({"a.mht": arc}, args=["-q", "a.mht"],
                  files={"p.txt": b"old\n"})
        self.assertEqual(r.created(), {"p.txt": b"new\n"})

    def test_any_layout_takes_the_next_free_name(self):
        old = {"x/a.png": b"old", "x/a-2.png": b"old2", "x/s.css": b"olds"}
        cases = [
            (["-anq", "s.mht"], "", SITE_FILES["x/index.html"],
             SITE_FILES["x/s.css"]),
            # The links lead to the files written, not to the old ones.
            (["--offline", "-nq", "s.mht"], "",
             b'<img src="a-3.png"><link href="s-2.css">'
             b'<script src="j.js"></script>', b"b{x:url(a-3.png)}"),
            (["-anqd", "s.mht"], "s/", SITE_FILES["x/index.html"],
             SITE_FILES["x/s.css"]),
        ]
        for args, under, page, css in cases:
            with self.subTest(args=args):
                files = {under + p: v for p, v in old.items()}
                r = h.run({"s.mht": SITE}, args=args, files=files)
                self.assertEqual(r.status, 0)
                made = {p: v for p, v in r.created().items()
                        if v is not h.DIR}
                self.assertEqual(made, {
                    under + "x/index.html": page,
                    under + "x/a-3.png": b"\0\1\2",
                    under + "x/s-2.css": css,
                    under + "x/j.js": b"var j;",
                    under + "x/n.txt": b"no type"})
                self.assertEqual({p: r.tree[p] for p in files}, files)


if __name__ == "__main__":
    h.main()
