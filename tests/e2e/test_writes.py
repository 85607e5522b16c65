"""End to end: writing into a directory that already holds things. Links
there never lead a part outside, whatever stands at a part's name is
replaced rather than written through, a failed or interrupted write leaves
the old file, and the edges around a run (base64.conf, standard output) end
the way they say.

Each case that plants a link first shows that a plain open of the part's
path would have written outside, then that the tool refuses or replaces,
then that nothing outside changed.

Run: python3 test_writes.py [path/to/mimeunpack]
"""

import base64
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import DIR, Symlink, progress, writing  # noqa: E402

B64 = b"base64"
QP = b"quoted-printable"
VICTIM = b"the user's own file\n"


def ok_stdout(*names, archive="a.mht"):
    return progress(1, archive) + h.conf_echo() + b"".join(
        writing(p, e) for p, e in names)


def unsafe(path):
    return b"Chyba. Cesta " + path + b" vede mimo aktualni adresar.\n"


class Elsewhere(unittest.TestCase):
    """Each run directory is made inside an outer directory that also holds
    `elsewhere/` (a victim file and a directory): the place planted links
    point at. After every run the outer directory must be as it was."""

    def setUp(self):
        self.outer = tempfile.mkdtemp(prefix="mimeunpack-writes-")
        self.addCleanup(shutil.rmtree, self.outer, True)
        self.elsewhere = os.path.join(self.outer, "elsewhere")
        h.write_tree(self.elsewhere, {"victim": VICTIM, "dir": DIR})
        saved = tempfile.tempdir
        tempfile.tempdir = self.outer  # the harness makes its run dir here
        self.addCleanup(setattr, tempfile, "tempdir", saved)
        self.outer_before = h.snapshot(self.outer)

    def run_tool(self, archives, **kwargs):
        r = h.run(archives, **kwargs)
        self.assertEqual(h.snapshot(self.outer), self.outer_before)
        return r

    def lands_outside(self, root, part):
        """A plain open of `part` in `root` would write outside it."""
        real = os.path.realpath(os.path.join(root, os.fsdecode(part)))
        return not real.startswith(os.path.realpath(root) + os.sep)


class Links(Elsewhere):

    def test_links_that_lead_out_are_refused(self):
        away = self.elsewhere
        # (links planted in the run directory, the part's path)
        cases = [
            ({"l": Symlink(away)}, b"l/x.txt"),
            ({"l": Symlink(away)}, b"l/dir/new/x.txt"),
            ({"a/up": Symlink("../..")}, b"a/up/x.txt"),
            ({"up": Symlink("..")}, b"up/elsewhere/victim"),
            ({"gone": Symlink(away + "/ghost")}, b"gone/x.txt"),
            ({"gone": Symlink("../ghost")}, b"gone/sub/x.txt"),
            ({"a/b": Symlink(away)}, b"a/b/c/x.txt"),
            ({"in": Symlink("sub"), "sub/out": Symlink(away)}, b"in/out/x"),
        ]
        for links, part in cases:
            for enc, body in ((QP, b"data\n"), (B64, b"QUJD\n")):
                with self.subTest(links=links, part=part, enc=enc):
                    def plant(root, links=links, part=part):
                        h.write_tree(root, links)
                        self.assertTrue(self.lands_outside(root, part))
                    arc = h.archive([(b"first.txt", QP, b"1\n"),
                                     (part, enc, body),
                                     (b"never.txt", QP, b"n\n")])
                    r = self.run_tool({"a.mht": arc}, setup=plant)
                    self.assertEqual(r.stdout, ok_stdout((b"first.txt", 0)) +
                                     unsafe(part))
                    self.assertEqual(r.status, 252)
                    # Refused before anything is made, links left alone.
                    self.assertEqual(r.created(), {"first.txt": b"1\n"})
                    self.assertFalse(os.path.lexists(
                        os.path.join(self.outer, "ghost")))

    def test_links_that_stay_inside_are_followed(self):
        # (entries planted, the part's path, where its bytes land)
        cases = [
            ({"images": DIR, "img": Symlink("images")}, b"img/p.png",
             "images/p.png"),
            ({"images": DIR, "img": Symlink("images")}, b"img/new/deep.png",
             "images/new/deep.png"),
            ({"a/b": DIR, "a/b/up": Symlink("../..")}, b"a/b/up/top.txt",
             "top.txt"),
        ]
        for planted, part, lands in cases:
            with self.subTest(part=part):
                r = self.run_tool({"a.mht": h.archive([(part, B64,
                                                        b"QUJD\n")])},
                                  files=planted)
                self.assertEqual(r.stdout, ok_stdout((part, 1)))
                self.assertEqual(r.status, 0)
                made = r.created()
                self.assertEqual(made.pop(lands), b"ABC")
                self.assertTrue(all(v is DIR for v in made.values()), made)


class FinalName(Elsewhere):

    def test_whatever_stands_at_the_name_is_replaced(self):
        away = self.elsewhere

        def device(root):
            try:
                os.mknod(os.path.join(root, "out"), stat.S_IFCHR | 0o666,
                         os.makedev(1, 3))  # what /dev/null is
            except PermissionError:
                self.skipTest("can't make a device node here")

        # (what stands at "out", a setup that plants it, or files)
        cases = [
            ("a link out", {"out": Symlink(away + "/victim")}, None),
            ("a dangling link out", {"out": Symlink(away + "/ghost")}, None),
            ("a link to a directory inside",
             {"images": DIR, "out": Symlink("images")}, None),
            ("a FIFO", None, lambda root: os.mkfifo(os.path.join(root, "out"))),
            ("a device", None, device),
        ]
        for what, files, setup in cases:
            with self.subTest(what):
                arc = h.archive([(b"out", QP, b"new\n"),
                                 (b"later.txt", QP, b"l\n")])
                r = self.run_tool({"a.mht": arc}, files=files, setup=setup)
                self.assertEqual(r.stdout, ok_stdout((b"out", 0),
                                                     (b"later.txt", 0)))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.tree["out"], b"new\n")
                self.assertEqual(r.tree["later.txt"], b"l\n")
                self.assertEqual(len(r.tree), len(r.before) + 1)

    def test_a_link_replaced_by_a_part_leads_nowhere_after(self):
        # Directories of earlier parts may be kept open; one reached through
        # a link is not, since a later part may replace that link.
        arc = h.archive([(b"img/a.txt", QP, b"a\n"), (b"img", QP, b"i\n"),
                         (b"img/b.txt", QP, b"b\n"), (b"c.txt", QP, b"c\n")])
        r = self.run_tool({"a.mht": arc},
                          files={"images": DIR, "img": Symlink("images")})
        self.assertEqual(r.stdout, ok_stdout((b"img/a.txt", 0), (b"img", 0),
                                             (b"img/b.txt", 0)))
        self.assertEqual(r.status, 252)
        self.assertEqual(r.created(), {"images/a.txt": b"a\n", "img": b"i\n"})

    def test_a_part_named_like_the_archive(self):
        # The archive is larger than one read block, so the rest of it is
        # read after its own name has been written.
        big = os.urandom(3 << 19)
        arc = h.archive([(b"a.mht", QP, b"self\n"),
                         (b"big.bin", B64, base64.encodebytes(big)),
                         (b"later.txt", QP, b"l\n")])
        r = self.run_tool({"a.mht": arc})
        self.assertEqual(r.stdout, ok_stdout((b"a.mht", 0), (b"big.bin", 1),
                                             (b"later.txt", 0)))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {"a.mht": b"self\n", "big.bin": big,
                                       "later.txt": b"l\n"})

    def test_killed_by_a_size_limit_mid_write(self):
        # SIGXFSZ with its default action: the run ends by the signal, and
        # the file that was there keeps its bytes.
        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
            resource.setrlimit(resource.RLIMIT_FSIZE,
                               (4096, resource.RLIM_INFINITY))

        arc = h.archive([(b"page.htm", QP, b"x" * 100000 + b"\n")])
        r = self.run_tool({"a.mht": arc}, files={"page.htm": VICTIM},
                          preexec_fn=limit)
        self.assertEqual(r.status, 128 + signal.SIGXFSZ)
        self.assertEqual(r.created(), {})


class Edges(unittest.TestCase):

    def test_base64conf_fifo_without_a_writer(self):
        # Opened without waiting for a writer; no writer reads as empty,
        # so no entry is set and every base64 character counts 0.
        arc = h.archive([(b"a.txt", QP, b"a\n"), (b"b.bin", B64, b"QUJD\n")])
        r = h.run({"a.mht": arc}, conf=None,
                  setup=lambda root: os.mkfifo(os.path.join(root,
                                                            h.CONF_NAME)))
        self.assertEqual(r.stdout, progress(1, "a.mht") + b"Base64 nahran...\n"
                         + writing(b"a.txt", 0) + writing(b"b.bin", 1))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {"a.txt": b"a\n", "b.bin": bytes(3)})

    def test_standard_output_that_cannot_be_written(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        arc = h.archive([(b"a.txt", QP, b"a\n")])
        # (arguments, status): a run that would end well ends with -4; a
        # fatal one keeps its own status.
        cases = [(["a.mht"], 252), (["a.mht", "a.mht"], 252),
                 (["none.mht"], 254), ([], 255)]
        for args, status in cases:
            with self.subTest(args=args):
                root = tempfile.mkdtemp(prefix="mimeunpack-e2e-")
                try:
                    h.write_tree(root, {"a.mht": arc,
                                        h.CONF_NAME: h.base64_conf()})
                    with open("/dev/full", "wb") as full:
                        proc = subprocess.run([h.binary()] + args, cwd=root,
                                              stdin=subprocess.DEVNULL,
                                              stdout=full,
                                              stderr=subprocess.PIPE,
                                              timeout=h.TIMEOUT_SECONDS)
                    self.assertEqual(proc.returncode, status)
                    if args:
                        self.assertEqual(h.snapshot(root).get("a.txt"),
                                         b"a\n" if status == 252 else None)
                finally:
                    shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    h.main()
