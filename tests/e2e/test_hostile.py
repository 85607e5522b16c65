"""End to end: archives and archive paths from strangers. Every run ends with
a documented message and status, never a crash or a hang, and nothing is
made where it must not be.

Run: python3 test_hostile.py [path/to/mimeunpack]
"""

import base64
import collections
import email
import hashlib
import itertools
import os
import random
import re
import resource
import shutil
import stat
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import BOUNDARY, progress, writing  # noqa: E402

B64 = b"base64"
QP = b"quoted-printable"
FORMAT = b"Chyba. Soubor zrejme nema spravny format.\n"
SENTINEL = b"the user's own file\n"

# Every line the tool may print, as the README's table lists them.
DOCUMENTED_LINE = re.compile(
    rb"argc: \d+, argv\[1\]: .*\n|Base64table \[.\]  = \d+\n|Base64 nahran\.\.\.\n"
    rb"|Zapis souboru .*, enc: [01]\n|Chyba\. Soubor zrejme nema spravny format\.\n"
    rb"|Chyba\. Cesta .* vede mimo aktualni adresar\.\n"
    rb"|Chyba\. Soubor .* ma radek hlavicky delsi nez 1048576 bajtu\.\n", re.S)
LIMIT = 1 << 20  # the longest header line, line end included


def long_header(path):
    return (b"Chyba. Soubor " + os.fsencode(path) +
            b" ma radek hlavicky delsi nez 1048576 bajtu.\n")


def cannot_open(path):
    return b"Chyba. Nemohu otevrit soubor" + os.fsencode(path) + b".\n"


def unsafe(shown):
    return b"Chyba. Cesta " + shown + b" vede mimo aktualni adresar.\n"


def ok_stdout(*names, archive="a.mht"):
    return progress(1, archive) + h.conf_echo() + b"".join(
        writing(p, e) for p, e in names)


class Outside(unittest.TestCase):
    """Runs the tool in a run directory inside an outer directory that holds
    a sentinel file; after every run the outer directory must hold nothing
    but the sentinel, unchanged."""

    TMPFS = False  # run in /dev/shm when it is there: many small files

    def setUp(self):
        where = "/dev/shm" if self.TMPFS and os.access("/dev/shm", os.W_OK) \
            else None
        self.outer = tempfile.mkdtemp(prefix="mimeunpack-hostile-", dir=where)
        self.addCleanup(shutil.rmtree, self.outer, True)
        with open(os.path.join(self.outer, "sentinel"), "wb") as f:
            f.write(SENTINEL)
        saved = tempfile.tempdir
        tempfile.tempdir = self.outer  # the harness makes its run dir here
        self.addCleanup(setattr, tempfile, "tempdir", saved)

    def run_tool(self, archives, **kwargs):
        r = h.run(archives, **kwargs)
        self.assert_outside_untouched(keep=r.root if kwargs.get("keep") else None)
        return r

    def assert_outside_untouched(self, keep=None):
        names = sorted(os.listdir(self.outer))
        if keep:
            names.remove(os.path.basename(keep))
        self.assertEqual(names, ["sentinel"])
        with open(os.path.join(self.outer, "sentinel"), "rb") as f:
            self.assertEqual(f.read(), SENTINEL)


class Traversal(Outside):

    def test_paths_that_leave_the_directory_are_refused(self):
        # (path on the location line, path as the message shows it)
        tag = b"mimeunpack-hostile-%d" % os.getpid()
        cases = [
            (b"/tmp/" + tag, b"/tmp/" + tag),
            (b"/", b"/"),
            (b"//" + tag, b"//" + tag),
            (b"..", b".."),
            (b"../sentinel", b"../sentinel"),
            (b"../" + tag, b"../" + tag),
            (b"a/../../" + tag, b"a/../../" + tag),
            (b"a/b/../../../" + tag, b"a/b/../../../" + tag),
            (b"a/../x", b"a/../x"),  # stays inside, still refused
            (b"sub/..", b"sub/.."),
            (b"a\0/../../" + tag, b"a"),  # the message stops at the NUL
            (b"x\0", b"x"),
            (b"\0", b""),
        ]
        # Under -C and -d the same paths are refused the same way, and a
        # ".." under "-C out" does not reach the current directory either.
        # (options, where the first part lands, what the run makes besides)
        modes = [([], "", {}), (["-C", "out"], "out/", {}),
                 (["-d"], "a/", {"a": h.DIR}),
                 (["-dC", "out"], "out/a/", {"out/a": h.DIR})]
        for path, shown in cases:
            for (options, where, made), (enc, body) in itertools.product(
                    modes, ((QP, b"data\n"), (B64, b"QUJD\n"))):
                with self.subTest(path=path, enc=enc, options=options):
                    arc = h.archive([(b"first.txt", QP, b"1\n"),
                                     (path, enc, body),
                                     (b"never.txt", QP, b"n\n")])
                    r = self.run_tool({"a.mht": arc}, files={"out": h.DIR},
                                      args=options + ["a.mht"])
                    self.assertEqual(r.stdout, ok_stdout((b"first.txt", 0)) +
                                     unsafe(shown))
                    self.assertEqual(r.status, 252)
                    # Nothing of the refused part, not even its directory.
                    self.assertEqual(r.created(),
                                     {where + "first.txt": b"1\n", **made})
                    self.assertFalse(os.path.lexists(b"/tmp/" + tag))

    def test_links_out_of_the_output_or_archive_directory(self):
        # The archive's own directory (-d) and the output directory (-C)
        # are what a part's path is checked against, links included.
        # (options, links planted, the part's path, printed after progress)
        cases = [
            (["-d"], {"a/up": h.Symlink("..")}, b"up/x.txt", None),
            (["-C", "out"], {"out/up": h.Symlink("..")}, b"up/x.txt", None),
            (["-d"], {"a": h.Symlink("..")}, b"x.txt", unsafe(b"a")),
            (["-dC", "out"], {"out/a": h.Symlink("..")}, b"x.txt",
             unsafe(b"a")),
        ]
        for options, links, part, printed in cases:
            with self.subTest(options=options, links=links):
                r = self.run_tool({"a.mht": h.archive([(part, QP, b"x\n")])},
                                  files=dict(links, out=h.DIR),
                                  args=options + ["a.mht"])
                # A refused archive directory ends the run before the
                # first part, so before the table is loaded.
                self.assertEqual(r.stdout, progress(1, "a.mht") + printed
                                 if printed else ok_stdout() + unsafe(part))
                self.assertEqual(r.status, 252)
                self.assertEqual(r.created(), {})

    def test_backslashes_are_plain_characters(self):
        names = [b"..\\..\\evil.txt", b"\\abs.txt", b"a\\..\\..\\b.txt",
                 b"dir/..\\x.txt", b"...", b"..x"]
        arc = h.archive([(n, QP, b"%d\n" % i) for i, n in enumerate(names)])
        r = self.run_tool({"a.mht": arc})
        self.assertEqual(r.stdout, ok_stdout(*[(n, 0) for n in names]))
        self.assertEqual(r.status, 0)
        expected = {n.decode(): b"%d\n" % i for i, n in enumerate(names)}
        expected["dir"] = h.DIR
        self.assertEqual(r.created(), expected)

    def test_url_forms_under_any_layout(self):
        # --any-layout makes names from URLs: none of these reaches outside
        # the output directory, under -C and -d alike, and a link already
        # there that leads out is refused as in the default mode.
        tag = b"mimeunpack-hostile-%d" % os.getpid()
        locations = [b"http://h/../../etc/passwd", b"file:///etc/passwd",
                     b"file:///C:/../../" + tag, b"%2e%2e/%2e%2e/" + tag,
                     b"https://h/%2e%2e/%2E%2E/x", b"..\\..\\" + tag,
                     b"file://srv/share/..\\..\\y", b"/" + tag,
                     b"https://h/" + b"s" * 300 + b"/" + b"t" * 300 + b".png",
                     b"cid:../../" + tag]
        same = 10_000
        arc = (b"Content-Type: multipart/mixed; boundary=b\n\n" + b"".join(
            b"--b\nContent-Location: " + loc + b"\n\nx\n"
            for loc in locations) + b"--b\nContent-Location: ../same\n\n1\n"
            * same + b"--b--\n")
        modes = [([], ""), (["-C", "out"], "out/"), (["-d"], "a/"),
                 (["-dC", "out"], "out/a/")]
        for options, where in modes:
            with self.subTest(options=options):
                r = self.run_tool({"a.mht": arc}, files={"out": h.DIR},
                                  args=["-aq"] + options + ["a.mht"],
                                  conf=None)
                self.assertEqual((r.stdout, r.status), (b"", 0))
                files = {k: v for k, v in r.created().items()
                         if v is not h.DIR}
                self.assertEqual(len(files), len(locations) + same)
                for name in files:
                    self.assertTrue(name.startswith(where), name)
                    self.assertTrue(all(len(c) <= 255
                                        for c in name.split("/")), name)
                # MIME calls a part without a Content-Type text/plain.
                self.assertEqual(files[where + "same.txt"], b"1")
                self.assertEqual(files[where + "same-%d.txt" % same], b"1")
                self.assertFalse(os.path.lexists(b"/" + tag))
        r = self.run_tool({"a.mht": arc}, files={"out/h": h.Symlink("..")},
                          args=["-a", "-C", "out", "a.mht"], conf=None)
        self.assertEqual(r.stdout, progress(1, "a.mht") +
                         unsafe(b"h/etc/passwd.txt"))
        self.assertEqual(r.status, 252)
        self.assertEqual(r.created(), {})


    def test_single_file_stays_beneath_the_output(self):
        # Whatever its parts are called, --single-file writes one file,
        # named after the archive, beneath the output directory: a link
        # standing at its name is replaced, never written through, and a
        # link for -d's directory that leads out is refused.
        page = (b"--b\nContent-Type: text/html\nContent-Location: "
                b"http://h/../../p.html\n\n<img src=../../../etc/x.png>\n"
                b"--b\nContent-Type: image/png\nContent-Location: "
                b"http://h/../etc/x.png\n\nx\n--b--\n")
        arc = b"Content-Type: multipart/related; boundary=b\n\n" + page
        cases = [
            ([], {"a.html": h.Symlink("../sentinel")}, "a.html", None),
            (["-C", "out"], {"out/a.html": h.Symlink("../../sentinel")},
             "out/a.html", None),
            (["-d"], {"a/a.html": h.Symlink("../../sentinel")}, "a/a.html",
             None),
            (["-d"], {"a": h.Symlink("..")}, None, unsafe(b"a")),
        ]
        for options, links, written, printed in cases:
            with self.subTest(options=options, links=links):
                r = self.run_tool({"a.mht": arc}, files=dict(links, out=h.DIR),
                                  args=["--single-file"] + options +
                                  ["a.mht"], conf=None)
                if printed:
                    self.assertEqual(r.stdout, progress(1, "a.mht") + printed)
                    self.assertEqual((r.status, r.created()), (252, {}))
                    continue
                self.assertEqual(r.status, 0, r.stdout)
                self.assertEqual(set(r.created()), {written})
                self.assertEqual(r.created()[written],
                                 b"<img src=data:image/png;base64,eA==>")

    def test_nested_look_alikes_equal_python_email(self):
        # Multiparts nested up to eight deep, each body full of lines that
        # resemble a delimiter of some level: every part comes out as
        # Python's email package reads it, as a multiset of file contents.
        rnd = random.Random(1903)
        pool = [b"b1", b"b10", b"q", b"q-", b"=_P"]
        forms = [b"--%sx", b"x--%s", b" --%s", b"--%s -x", b"--%s--x"]

        def lines(nl):
            out = [rnd.choice(forms) % rnd.choice(pool) if rnd.random() < .6
                   else rnd.choice([b"text", b"", b"-", b"a--"])
                   for _ in range(rnd.randrange(5))]
            return b"".join(x + nl for x in out)

        def entity(depth, open_, nl):
            free = [b for b in pool if b not in open_]
            if depth < 8 and free and rnd.random() < .6:
                b = rnd.choice(free)
                out = (b"Content-Type: multipart/mixed; boundary=\"" + b +
                       b"\"" + nl + nl + lines(nl))
                for _ in range(rnd.randint(1, 3)):
                    out += (b"--" + b + nl +
                            entity(depth + 1, open_ + [b], nl) + nl)
                return out + b"--" + b + b"--" + nl + lines(nl)
            return (b"Content-Type: text/plain" + nl +
                    b"Content-Transfer-Encoding: 7bit" + nl + nl + lines(nl) +
                    b"end")

        for n in range(40):
            nl = rnd.choice([b"\r\n", b"\n"])
            data = entity(0, [], nl)
            msg = email.message_from_bytes(data)
            want = collections.Counter(
                q.get_payload(decode=True) or b"" for q in msg.walk()
                if not q.is_multipart())
            r = self.run_tool({"r.mht": data}, args=["-aq", "r.mht"],
                              conf=None)
            self.assertEqual(r.status, 0, n)
            have = collections.Counter(
                v for k, v in r.created().items() if isinstance(v, bytes))
            self.assertEqual(have, want, n)

class TerminalNames(Outside):
    """On a terminal every name is shown with its control bytes, stray bytes
    and C1 controls as "?"; through a pipe every byte stays, and the file on
    disk always has the archive's name."""

    NAMES = [  # (name in the archive, as a terminal shows it)
        (b"x\x1b]0;pwned\x07\x1b[2J.txt", b"x?]0;pwned??[2J.txt"),
        (b"lone\x9b[31m.txt", b"lone?[31m.txt"),
        (b"bad\xff\xc3(\xe2\x82.txt", b"bad??(??.txt"),
        (b"c1\xc2\x9b\xc2\x85del\x7f.txt", b"c1??del?.txt"),
        ("\u017elu\u0165ou\u010dk\u00fd k\u016f\u0148.txt".encode(),
         "\u017elu\u0165ou\u010dk\u00fd k\u016f\u0148.txt".encode()),
    ]

    def test_names_on_a_terminal_and_through_a_pipe(self):
        for name, shown in self.NAMES:
            written = h.archive([(name, QP, b"x\n")])
            refused = h.archive([(b"../" + name, QP, b"x\n")])
            for terminal in (True, False):
                on_screen = shown if terminal else name
                with self.subTest(name=name, terminal=terminal):
                    r = self.run_tool({"a.mht": written}, terminal=terminal)
                    self.assertEqual(r.stdout, ok_stdout((on_screen, 0)))
                    self.assertEqual(r.status, 0)
                    self.assertEqual(r.created(), {os.fsdecode(name): b"x\n"})
                    r = self.run_tool({"a.mht": refused}, terminal=terminal)
                    self.assertEqual(r.stdout, ok_stdout() +
                                     unsafe(b"../" + on_screen))
                    self.assertEqual(r.status, 252)
                    self.assertEqual(r.created(), {})

    def test_archive_path_on_a_terminal(self):
        name = b"e\x1b[2Jx.mht"
        r = self.run_tool({}, args=[name], terminal=True)
        self.assertEqual(r.stdout, b"argc: 1, argv[1]: e?[2Jx.mht\n" +
                         cannot_open(b"e?[2Jx.mht"))
        self.assertEqual(r.status, 254)


class LongNames(Outside):

    def test_component_over_255_bytes_cannot_be_created(self):
        for path in (b"n" * 256, b"d" * 256 + b"/f.txt", b"ok/" + b"x" * 1000):
            with self.subTest(length=len(path)):
                arc = h.archive([(path, QP, b"x\n"), (b"later.txt", QP, b"l\n")])
                r = self.run_tool({"a.mht": arc})
                # The "Zapis souboru" line names the file; nothing follows.
                self.assertEqual(r.stdout, ok_stdout((path, 0)))
                self.assertEqual(r.status, 252)
                made = r.created()
                self.assertEqual({p: v for p, v in made.items() if v is not h.DIR},
                                 {})
                self.assertTrue(set(made) <= {"ok"})

    def test_component_of_255_bytes_is_written(self):
        name = b"n" * 255
        r = self.run_tool({"a.mht": h.archive([(name, QP, b"x\n")])})
        self.assertEqual(r.stdout, ok_stdout((name, 0)))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {name.decode(): b"x\n"})

    def test_path_over_4096_bytes_cannot_be_created(self):
        path = b"/".join([b"d" * 250] * 20) + b"/f.txt"  # 5026 bytes
        r = self.run_tool({"a.mht": h.archive([(path, B64, b"QUJD\n")])})
        self.assertEqual(r.stdout, ok_stdout((path, 1)))
        self.assertEqual(r.status, 252)
        # Directories on the way may have been made; no file.
        for rel, value in r.created().items():
            self.assertIs(value, h.DIR, rel)
            self.assertTrue(path.decode().startswith(rel + "/"), rel)

    def test_two_hundred_levels(self):
        path = b"d/" * 200 + b"deep.bin"
        data = bytes(range(256))
        r = self.run_tool({"a.mht": h.archive(
            [(path, B64, base64.encodebytes(data))])})
        self.assertEqual(r.stdout, ok_stdout((path, 1)))
        self.assertEqual(r.status, 0)
        made = r.created()
        self.assertEqual(made.pop(path.decode()), data)
        self.assertEqual(set(made), {"/".join(["d"] * k) for k in range(1, 201)})


class ManyParts(Outside):

    TMPFS = True

    def test_hundred_thousand_tiny_parts(self):
        count = 100_000
        names = [b"p%d/%d" % (i % 100, i) for i in range(count)]
        # Bodies from python's encoder: "i" as decimal text.
        # Joined here: the harness's archive() grows one bytes object part
        # by part, which is quadratic at this count.
        head = h.archive([])
        head = head[:head.rindex(b"--" + BOUNDARY + b"--")]
        arc = head + b"".join(
            h.archive([(n, B64, base64.b64encode(b"%d" % i) + b"\n")],
                      header=b"", close=False)
            for i, n in enumerate(names)) + b"--" + BOUNDARY + b"--\n"
        r = self.run_tool({"a.mht": arc})
        self.assertEqual(r.status, 0)
        self.assertEqual(r.stdout, ok_stdout(*[(n, 1) for n in names]))
        made = r.created()
        self.assertEqual(len(made), count + 100)
        for i, n in enumerate(names):
            self.assertEqual(made[n.decode()], b"%d" % i)


class HugeLine(Outside):
    """One line of 256 MiB without a line end, the last thing in the archive.
    Generated here, never committed."""

    SIZE = 256 << 20

    def test_single_line_of_256_mib_comes_back_whole(self):
        need = 3 * self.SIZE  # archive, output, and a margin
        free = shutil.disk_usage(self.outer).free
        if free < need:
            self.skipTest("needs %d MiB free in %s, has %d MiB" %
                          (need >> 20, self.outer, free >> 20))
        run_dir = tempfile.mkdtemp(dir=self.outer)
        with open(os.path.join(run_dir, "base64.conf"), "wb") as f:
            f.write(h.base64_conf())
        # Printable bytes without "=" so the quoted-printable body is its
        # own decoding; a period that doesn't divide the block sizes.
        pattern = bytes(b for b in range(0x20, 0x7F) if b != ord("="))
        chunk = pattern * ((1 << 20) // len(pattern) + 1)
        digest = hashlib.sha256()
        with open(os.path.join(run_dir, "big.mht"), "wb") as f:
            f.write(h.archive([(b"big.txt", QP, b"")], close=False))
            left = self.SIZE
            while left:
                piece = chunk[:min(left, len(chunk))]
                f.write(piece)
                digest.update(piece)
                left -= len(piece)
        proc = subprocess.run([h.binary(), "big.mht"], cwd=run_dir,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=600)
        self.assertEqual(proc.stdout, ok_stdout((b"big.txt", 0),
                                                archive="big.mht"))
        self.assertEqual(proc.returncode, 0, proc.stderr[-2000:])
        out = os.path.join(run_dir, "big.txt")
        self.assertEqual(os.path.getsize(out), self.SIZE)
        got = hashlib.sha256()
        with open(out, "rb") as f:
            for block in iter(lambda: f.read(1 << 22), b""):
                got.update(block)
        self.assertEqual(got.hexdigest(), digest.hexdigest())
        self.assertEqual(sorted(os.listdir(run_dir)),
                         ["base64.conf", "big.mht", "big.txt"])
        shutil.rmtree(run_dir)
        self.assert_outside_untouched()


def limit_memory():
    resource.setrlimit(resource.RLIMIT_AS, (256 << 20, 256 << 20))


def memory_limit():
    """limit_memory, where this build starts within it: a sanitizer build
    reserves more address space than that before it reads a byte, and
    there the cap's message is checked without the limit."""
    started = subprocess.run([h.binary(), "--version"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                             preexec_fn=limit_memory)
    return limit_memory if started.returncode == 0 else None


class HeaderLines(Outside):
    """Header lines are held whole, so each is capped: over the limit the
    run ends with the message and -3, whichever header line it is."""

    def test_lines_over_the_limit(self):
        over = b"x" * LIMIT  # with its line end, one byte over
        at = b"x" * (LIMIT - 1)
        ct = b'Content-Type: multipart/related; boundary="' + BOUNDARY + b'"'
        good = b"--" + BOUNDARY + b"\n" + (b"Content-Location: file:///C:/a"
                                           b"\nContent-Transfer-Encoding: q"
                                           b"\n%s\n\nbody\n")
        cases = {
            "before Content-Type": (over + b"\n" + ct + b"\n\n" + good % b""),
            "Content-Type": (ct + b";" + over + b"\n\n" + good % b""),
            "preamble": (ct + b"\n\n" + over + b"\n" + good % b""),
            "ignored line": (ct + b"\n\n" + good % over),
            "location": (ct + b"\n\n--" + BOUNDARY + b"\n" + over + b"\n"),
            "last line at the end": (ct + b"\n\n" + b"y" * (LIMIT + 1)),
        }
        for name, arc in cases.items():
            with self.subTest(name):
                r = self.run_tool({"a.mht": arc}, preexec_fn=memory_limit())
                self.assertEqual(r.stdout,
                                 progress(1, "a.mht") + long_header("a.mht"))
                self.assertEqual(r.status, 253)
                self.assertEqual(r.created(), {})
        # At the limit, line end included, the line is read as before.
        arc = ct + b"\n\n" + good % at
        r = self.run_tool({"a.mht": arc}, preexec_fn=memory_limit())
        self.assertEqual(r.stdout, ok_stdout((b"a", 0)))
        self.assertEqual(r.status, 0)

    def test_dev_zero_ends_with_the_message(self):
        r = self.run_tool({}, args=["/dev/zero"],
                          preexec_fn=memory_limit())
        self.assertEqual(r.stdout, progress(1, "/dev/zero") +
                         long_header("/dev/zero"))
        self.assertEqual(r.status, 253)


class Documented(Outside):

    def assert_documented(self, r):
        """stdout is a sequence of documented lines whose last one fits the
        status."""
        lines = re.findall(rb"[^\n]*\n", r.stdout)
        self.assertEqual(b"".join(lines), r.stdout)
        for line in lines:
            self.assertRegex(line, DOCUMENTED_LINE)
        self.assertIn(r.status, (0, 252, 253))
        last = lines[-1] if lines else b""
        if r.status == 252:
            self.assertTrue(last.startswith((b"Zapis souboru", b"Chyba. Cesta")),
                            r.stdout[-300:])
        elif r.status == 253:
            self.assertTrue(last in (FORMAT, long_header("a.mht")) or
                            last.startswith(b"argc: "),
                            r.stdout[-300:])
        else:
            self.assertFalse(last.startswith(b"Chyba"), r.stdout[-300:])


class Garbage(Documented):

    def test_random_bytes_without_a_header(self):
        rng = random.Random(4)
        for size in (0, 1, 255, 256, 4096, 65536, 1 << 20):
            with self.subTest(size=size):
                data = rng.randbytes(size)
                data = data.replace(b"Content-Type", b"Content_Type")
                r = self.run_tool({"g.bin": data})
                self.assertEqual(r.stdout, progress(1, "g.bin"))
                self.assertEqual(r.status, 253)
                self.assertEqual(r.created(), {})

    def test_random_bytes_after_a_header(self):
        rng = random.Random(44)
        for i in range(40):
            with self.subTest(i=i):
                # Garbage rich in line ends, boundaries and location lines.
                pieces = [b"\n", b"\r\n", b"--B\n", b"--B--", b"=", b"/",
                          b"..", b"\0", b"Content-Location: file:///C:/",
                          b"base64", bytes([rng.randrange(256)])]
                body = b"".join(rng.choice(pieces) if rng.random() < 0.5
                                else bytes([rng.randrange(256)])
                                for _ in range(rng.randrange(2000)))
                arc = b'Content-Type: multipart/related; boundary="B"\n' + body
                r = self.run_tool({"a.mht": arc}, keep=True)
                try:
                    self.assert_documented(r)
                    for rel in r.created():
                        self.assertNotIn("..", rel.split("/"))
                finally:
                    shutil.rmtree(r.root, ignore_errors=True)


class Truncated(Documented):

    def test_cut_at_every_byte(self):
        html = b"<p>caf\xc3\xa9 &amp; more text</p>\n"
        png = bytes(range(0, 256, 7))
        arc = h.archive([
            (b"page.htm", QP, html),
            (b"img/p.png", B64, base64.encodebytes(png)),
        ], nl=b"\r\n").replace(b"\n", b"\r\n").replace(b"\r\r\n", b"\r\n")
        first_done = arc.index(b"--" + BOUNDARY, arc.index(b"page.htm")) + \
            len(BOUNDARY) + 4
        crlf_html = html.replace(b"\n", b"\r\n")
        for cut in range(len(arc) + 1):
            with self.subTest(cut=cut):
                r = self.run_tool({"a.mht": arc[:cut]}, keep=True)
                try:
                    self.assert_documented(r)
                    made = r.created()
                    for rel, value in made.items():
                        self.assertTrue(
                            "page.htm".startswith(rel) or
                            "img/p.png".startswith(rel), rel)
                    # A part whose boundary line is whole comes back exact.
                    if cut >= first_done:
                        self.assertEqual(made["page.htm"], crlf_html)
                    if cut == len(arc):
                        self.assertEqual(r.status, 0)
                        self.assertEqual(made["img/p.png"], png)
                finally:
                    shutil.rmtree(r.root, ignore_errors=True)


class ArchivePath(Outside):

    def test_a_directory(self):
        r = self.run_tool({}, args=["sub"], files={"sub": h.DIR})
        self.assertEqual(r.stdout, progress(1, "sub") + cannot_open("sub"))
        self.assertEqual(r.status, 254)
        self.assertEqual(r.created(), {})

    def test_missing(self):
        r = self.run_tool({}, args=["none.mht"])
        self.assertEqual(r.stdout, progress(1, "none.mht") +
                         cannot_open("none.mht"))
        self.assertEqual(r.status, 254)
        self.assertEqual(r.created(), {})

    def test_unreadable(self):
        arc = h.archive([(b"a.txt", QP, b"a\n")])
        if os.geteuid() != 0:
            r = self.run_tool({"a.mht": arc},
                              setup=lambda root: os.chmod(
                                  os.path.join(root, "a.mht"), 0))
        else:
            # chmod 000 doesn't stop root: run the tool as nobody.
            try:
                subprocess.run(["true"], user=65534, check=True)
            except (OSError, subprocess.SubprocessError) as e:
                self.skipTest("can't drop privileges: %s" % e)
            root = tempfile.mkdtemp(dir=self.outer)
            os.chmod(root, 0o755)
            path = os.path.join(root, "a.mht")
            with open(path, "wb") as f:
                f.write(arc)
            os.chmod(path, 0)
            if not os.access(h.binary(), os.X_OK):
                self.skipTest("binary not reachable")
            proc = subprocess.run([h.binary(), "a.mht"], cwd=root, user=65534,
                                  stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=60)
            if b"Permission denied" in proc.stderr:
                self.skipTest("nobody can't run %s" % h.binary())
            self.assertEqual(proc.stdout, progress(1, "a.mht") +
                             cannot_open("a.mht"))
            self.assertEqual(proc.returncode, 254)
            self.assertEqual(os.listdir(root), ["a.mht"])
            shutil.rmtree(root)
            self.assert_outside_untouched()
            return
        self.assertEqual(r.stdout, progress(1, "a.mht") + cannot_open("a.mht"))
        self.assertEqual(r.status, 254)
        self.assertEqual(r.created(), {})

    def test_fifo_without_a_writer(self):
        # Opening must not wait for a writer; no writer reads as empty.
        r = self.run_tool({}, args=["pipe"],
                          setup=lambda root: os.mkfifo(
                              os.path.join(root, "pipe")))
        self.assertEqual(r.stdout, progress(1, "pipe"))
        self.assertEqual(r.status, 253)
        self.assertEqual(r.created(), {})

    def test_fifo_without_a_writer_in_every_mode(self):
        # --any-layout reads bodies back by their offsets: a FIFO is no
        # archive for it, refused at once rather than waited on.
        for args in (["-a"], ["--offline"], ["-a", "-l"], ["--single-file"]):
            r = self.run_tool({}, args=args + ["pipe"],
                              setup=lambda root: os.mkfifo(
                                  os.path.join(root, "pipe")))
            self.assertEqual(r.stdout, progress(1, "pipe") +
                             cannot_open("pipe"), args)
            self.assertEqual(r.status, 254, args)
            self.assertEqual(r.created(), {}, args)

    def test_fifo_with_a_writer(self):
        data = b"\x00\x01\xfe\xff"
        # No close delimiter: the tool reads on until the pipe's end.
        arc = h.archive([(b"f.bin", B64, base64.encodebytes(data))],
                        close=False)
        root = tempfile.mkdtemp(dir=self.outer)
        with open(os.path.join(root, "base64.conf"), "wb") as f:
            f.write(h.base64_conf())
        fifo = os.path.join(root, "pipe")
        os.mkfifo(fifo)
        # Held open for reading and writing: the archive waits in the pipe,
        # and the tool's reads block until this end closes.
        fd = os.open(fifo, os.O_RDWR)
        try:
            os.write(fd, arc)
            proc = subprocess.Popen([h.binary(), "pipe"], cwd=root,
                                    stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE)
            # Close our end only once the tool has the pipe open, or the
            # buffered archive would be dropped.
            deadline = time.monotonic() + 60
            while not h.has_open(proc.pid, fifo):
                self.assertIsNone(proc.poll())
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.01)
        finally:
            os.close(fd)
        out, err = proc.communicate(timeout=60)
        self.assertEqual(out, progress(1, "pipe") + h.conf_echo() +
                         writing(b"f.bin", 1))
        self.assertEqual(proc.returncode, 0, err)
        with open(os.path.join(root, "f.bin"), "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertEqual(sorted(os.listdir(root)),
                         ["base64.conf", "f.bin", "pipe"])
        shutil.rmtree(root)
        self.assert_outside_untouched()


if __name__ == "__main__":
    h.main()
