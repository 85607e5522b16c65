"""End to end: the options, one table per family, each row checked for what
a user sees (stdout bytes, status, the tree after the run).

Run: python3 test_options.py [path/to/mimeunpack]
"""

import base64
import os
import quopri
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import progress, writing  # noqa: E402

B64 = b"base64"
QP = b"quoted-printable"
ARC = h.archive([(b"page.htm", QP, b"caf=C3=A9 =3D\n"),
                 (b"img/p.bin", B64, b"AAEC/w==\n")])
WRITTEN = {"page.htm": "caf\xc3\xa9 =\n".encode("latin-1"), "img": h.DIR,
           "img/p.bin": b"\x00\x01\x02\xff"}
LISTED = [(len(WRITTEN["page.htm"]), 0, b"page.htm", False),
          (4, 1, b"img/p.bin", False)]
OUTPUT = (h.conf_echo() + writing(b"page.htm", 0) + writing(b"img/p.bin", 1))


SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                          "..")


def source_file(rel):
    with open(os.path.join(SOURCE_DIR, rel), encoding="utf-8") as f:
        return f.read()


def project_version():
    return re.search(r"project\(mimeunpack VERSION (\S+)",
                     source_file("CMakeLists.txt"))[1]


def bad_option(name):
    return (b"Chyba. Neplatny prepinac " + name +
            b". Napoveda: mimeunpack --help\n")


def no_value(name):
    return (b"Chyba. U prepinace " + name +
            b" chybi hodnota. Napoveda: mimeunpack --help\n")


def listing(rows, archive="a.mht", left=1):
    """What --list prints for one archive: rows of (size, is_base64, path,
    refused)."""
    out = progress(left, archive) + (
        b"   Velikost  Kodovani          Cesta\n"
        b"-----------  ----------------  -----\n")
    for size, is_base64, path, refused in rows:
        out += b"%11d  %-16s  %s%s\n" % (
            size, B64 if is_base64 else QP, path,
            b"  (odmitnuto: vede mimo adresar)" if refused else b"")
    total = sum(r[0] for r in rows)
    return out + (b"-----------                    -----\n%11d                    "
                  b"%d %s\n" % (total, len(rows),
                                b"cast" if len(rows) == 1 else b"casti"))


class CommandLine(unittest.TestCase):

    def test_help_and_version_read_nothing(self):
        version = b"mimeunpack %s\n" % project_version().encode()
        for args, printed in ((["--help"], None), (["-h"], None),
                              (["a.mht", "-qh", "--bogus"], None),
                              (["--version"], version),
                              (["-V", "a.mht"], version),
                              (["--vers"], version)):
            with self.subTest(args=args):
                r = h.run({"a.mht": ARC}, args=args, conf=b"26")
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {})
                if printed:
                    self.assertEqual(r.stdout, printed)
                else:
                    self.assertTrue(r.stdout.startswith(
                        b"Pouziti: mimeunpack [PREPINACE] ARCHIV...\n"))
                    self.assertLess(r.stdout.count(b"\n"), 40)

    def test_bad_command_lines_end_before_anything_is_read(self):
        # A malformed base64.conf would make itself heard if it were read.
        cases = [
            (["--bogus", "a.mht"], bad_option(b"--bogus")),
            (["a.mht", "-x"], bad_option(b"-x")),
            (["-qx", "a.mht"], bad_option(b"-x")),
            (["--quiet=yes", "a.mht"], bad_option(b"--quiet=yes")),
            (["a.mht", "-t"], no_value(b"-t")),
            (["a.mht", "-qt"], no_value(b"-t")),
            (["a.mht", "--table"], no_value(b"--table")),
            (["-q"], b"Chybi parametr.\n"),
            (["-q", "--"], b"Chybi parametr.\n"),
        ]
        for args, printed in cases:
            with self.subTest(args=args):
                r = h.run({"a.mht": ARC}, args=args, conf=b"26")
                self.assertEqual(r.stdout, printed)
                self.assertEqual(r.status, 255)
                self.assertEqual(r.created(), {})

    def test_options_anywhere_double_dash_and_quiet(self):
        refused = h.archive([(b"ok.txt", QP, b"ok\n"),
                             (b"../up.txt", QP, b"x\n")])
        # (args, stdout, status, what the run makes); quiet keeps errors.
        cases = [
            (["a.mht", "-q", "a.mht"], b"", 0, WRITTEN),
            (["-q", "--", "-odd.mht"], b"", 0, WRITTEN),
            (["--", "-odd.mht"], progress(1, "-odd.mht") + OUTPUT, 0,
             WRITTEN),
            # "-" is standard input (empty here: no header), "-q" after
            # "--" a path.
            (["-", "--", "-q"], progress(2, "-"), 253, {}),
            (["--quiet", "r.mht"],
             b"Chyba. Cesta ../up.txt vede mimo aktualni adresar.\n", 252,
             {"ok.txt": b"ok\n"}),
            (["-l", "a.mht", "--", "-odd.mht"],
             listing(LISTED, left=2) + listing(LISTED, "-odd.mht"), 0, {}),
        ]
        for args, printed, status, made in cases:
            with self.subTest(args=args):
                r = h.run({"a.mht": ARC, "-odd.mht": ARC, "r.mht": refused},
                          args=args)
                self.assertEqual(r.stdout, printed)
                self.assertEqual(r.status, status)
                self.assertEqual(r.created(), made)


class Documented(unittest.TestCase):

    def test_every_option_in_help_is_documented_and_completed(self):
        usage = h.run(args=["--help"]).stdout.decode()
        # "  -q, --quiet", or "      --offline" for a long one alone.
        options = re.findall(r"^  (?:(-\w), |    )(--[\w-]+)", usage, re.M)
        self.assertGreaterEqual(len(options), 7)
        # The manual escapes its dashes; what a reader sees is near enough.
        manual = source_file("docs/mimeunpack.1").replace("\\-", "-")
        # The README and the pages of docs/ it links to, as one text.
        readme = source_file("README.md") + "".join(
            source_file(os.path.join("docs", page)) for page in
            sorted(os.listdir(os.path.join(SOURCE_DIR, "docs")))
            if page.endswith(".md"))
        completion = source_file("completion/mimeunpack.bash")
        offered = set(re.search(r"compgen -W '([^']*)'", completion)[1].split())
        for short, long in options:
            with self.subTest(option=long):
                names = {short, long} - {""}
                for text, where in ((manual, "manual"), (readme, "README")):
                    for name in names:
                        self.assertTrue(re.search(re.escape(name) + r"\b",
                                                  text), name + " in " + where)
                self.assertLessEqual(names, offered)
        self.assertEqual(offered - {o for pair in options for o in pair},
                         {"--"})
        # The options --help shows with a value are those whose value the
        # completion completes and whose manual heading names a value.
        valued = set(re.findall(r"^  (?:(-\w), |    )(--[\w-]+) \S", usage,
                                re.M))
        # A long option alone stands as "--only)".
        self.assertEqual(valued, {
            tuple(p.split(" | ")) if " | " in p else ("", p)
            for p in re.findall(r"^    ((?:-\w \| )?--[\w-]+)\)$",
                                completion, re.M)})
        headings = dict(re.findall(r"^\.TP\n\.BR? .*?(--[\w-]+)(.*)$",
                                   manual, re.M))
        for short, long in options:
            with self.subTest(heading=long):
                self.assertIn(long, headings)
                self.assertEqual("=\\fI" in headings[long],
                                 (short, long) in valued, headings[long])

    def test_zsh_and_fish_complete_what_help_shows(self):
        # Every option --help shows, with its short form, whether it takes
        # a value, and its text (continuation lines joined).
        usage = h.run(args=["--help"]).stdout.decode()
        shown = {}
        last = None
        for line in usage.splitlines():
            m = re.match(r"^  (?:(-\w), |    )(--[\w-]+)( \S+)?  +(.*)$", line)
            if m:
                last = m[2]
                shown[last] = (m[1] or "", bool(m[3]), m[4])
            elif last and re.match(r"^ {20,}\S", line):
                short, valued, text = shown[last]
                shown[last] = (short, valued, text + " " + line.strip())
            else:
                last = None
        self.assertGreaterEqual(len(shown), 9)
        zsh = {}
        for m in re.finditer(r"^  (?:'\([^)]*\)'\{(-\w)(\+?),(--[\w-]+)=?\}'"
                             r"|'(--[\w-]+)=?)\[([^]]*)\](:?)",
                             source_file("completion/_mimeunpack"), re.M):
            zsh[m[3] or m[4]] = (m[1] or "", bool(m[6]), m[5])
        fish = {}
        for m in re.finditer(r"^complete -c mimeunpack(?: -s (\w))? -l ([\w-]+)"
                             r"(.*) -d '([^']*)'$",
                             source_file("completion/mimeunpack.fish"), re.M):
            fish["--" + m[2]] = ("-" + m[1] if m[1] else "",
                                 bool(re.search(r" -[rx]\b", m[3])), m[4])
        self.assertEqual(zsh, shown)
        self.assertEqual(fish, shown)


class Table(unittest.TestCase):

    def test_table_file_by_name(self):
        conf = h.base64_conf()
        echo = h.conf_echo()
        one = h.archive([(b"x.bin", B64, b"QUJD\n")])
        # (args, files, stdout, status)
        cases = [
            (["-t", "t/alpha bet", "a.mht"], {"t/alpha bet": conf},
             progress(1, "a.mht") + echo + writing(b"x.bin", 1), 0),
            (["--table", "gone.conf", "a.mht"], {},
             progress(1, "a.mht") +
             b"Chyba. Tabulka rozlozeni [gone.conf] nenalezena.\n", 253),
            (["-t", "bad", "a.mht"], {"bad": b"1 B\n26"},
             progress(1, "a.mht") + b"Base64table [B]  = 1\n" +
             b"Chyba. Soubor [bad] ma chybny format. \nRadek: 26; i = 3 "
             b"strlen: 2\n", 253),
        ]
        for args, files, printed, status in cases:
            with self.subTest(args=args):
                # ./base64.conf would load and decode differently: "QUJD"
                # under a table where only B is set.
                r = h.run({"a.mht": one}, args=args, files=files,
                          conf=b"1 B\n")
                self.assertEqual(r.stdout, printed)
                self.assertEqual(r.status, status)
                made = r.created()
                self.assertEqual(made, {"x.bin": b"ABC"} if status == 0
                                 else {})


def under(prefix, tree):
    return {prefix + rel: value for rel, value in tree.items()}


class OutputDirectory(unittest.TestCase):

    def test_directory_and_dir_per_archive(self):
        two = h.archive([(b"two.txt", QP, b"2\n")])
        # (args, stdout, status, what the run makes)
        cases = [
            (["-C", "out", "a.mht"], progress(1, "a.mht") + OUTPUT, 0,
             under("out/", WRITTEN)),
            # The table and the archives stay relative to where it runs.
            (["--directory=out/deep", "-q", "a.mht", "sub/b.v2.mht"], b"", 0,
             {**under("out/deep/", WRITTEN), "out/deep/two.txt": b"2\n"}),
            (["-d", "a.mht", "sub/b.v2.mht"],
             progress(2, "a.mht") + OUTPUT + progress(1, "sub/b.v2.mht") +
             writing(b"two.txt", 0), 0,
             {"a": h.DIR, **under("a/", WRITTEN), "b.v2": h.DIR,
              "b.v2/two.txt": b"2\n"}),
            (["-qdC", "out", "a.mht", "a.mht"], b"", 0,
             {"out/a": h.DIR, **under("out/a/", WRITTEN)}),
            # An archive without an extension would need its own name.
            (["-d", "-q", "noext"],
             b"Chyba. Nemohu vytvorit adresar noext.\n", 252, {}),
            (["-C", "missing", "a.mht"],
             b"Chyba. Nemohu otevrit adresar missing.\n", 254, {}),
            (["a.mht", "-C", "a.mht"],
             b"Chyba. Nemohu otevrit adresar a.mht.\n", 254, {}),
            (["-d", "sub/b.v2.mht", "a.mht"],
             progress(2, "sub/b.v2.mht") + h.conf_echo() +
             writing(b"two.txt", 0) + progress(1, "a.mht") +
             b"Chyba. Nemohu vytvorit adresar a.\n", 252,
             {"b.v2": h.DIR, "b.v2/two.txt": b"2\n"}),
        ]
        for args, printed, status, made in cases:
            with self.subTest(args=args):
                # A file "a" where -d would make the directory for a.mht in
                # the last case only.
                files = {"out/deep": h.DIR, "sub/b.v2.mht": two,
                         "noext": ARC}
                if args[1] == "sub/b.v2.mht":
                    files["a"] = b"in the way"
                r = h.run({"a.mht": ARC}, args=args, files=files)
                self.assertEqual(r.stdout, printed)
                self.assertEqual(r.status, status)
                self.assertEqual(r.created(), made)


class List(unittest.TestCase):

    def test_sizes_are_exact_and_nothing_is_written(self):
        rng = bytes(range(256)) * 5
        html = b"<p>caf\xc3\xa9 = more</p>\n" * 40
        parts = [
            (b"page.htm", QP, quopri.encodestring(html), len(html)),
            (b"bin/all.bin", B64, base64.encodebytes(rng), len(rng)),
            (b"two.bin", B64, b"QQ==\n", 1),
            (b"k6.bin", B64, b"QUJDRA\n", 4),  # final group of 2: 1 byte
            (b"k1.bin", B64, b"QUJDR\n", 3),   # a lone character: none
            (b"empty.txt", QP, b"", 0),
            (b"soft.txt", QP, b"a=\r\nb=3d\n", 4),
            (b"../up.bin", B64, b"QUJD\n", 3),
            (b"/abs.txt", QP, b"abc\n", 4),
            (b"last.txt", QP, b"x\n", 2),
        ]
        arc = h.archive([(p, e, b) for p, e, b, _ in parts])
        rows = [(n, int(e == B64), p, p.startswith((b"/", b"..")))
                for p, e, _, n in parts]
        # No table is needed, even a malformed one is never read.
        for args, conf in ((["-l", "a.mht"], None), (["a.mht", "--list"],
                                                     b"26")):
            with self.subTest(args=args):
                r = h.run({"a.mht": arc}, args=args, conf=conf)
                self.assertEqual(r.stdout, listing(rows))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {})


if __name__ == "__main__":
    h.main()
