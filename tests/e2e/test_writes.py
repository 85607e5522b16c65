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
import ctypes
import fcntl
import os
import resource
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import termios
import time
import tty

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


BIG = os.urandom(3 << 20)  # past every read and decode block
BIG_BODY = base64.encodebytes(BIG).replace(b"\n", b"\r\n")


def size_limit(action):
    """A file-size limit far below BIG, SIGXFSZ left at `action`."""
    def limit():
        signal.signal(signal.SIGXFSZ, action)
        resource.setrlimit(resource.RLIMIT_FSIZE,
                           (1 << 20, resource.RLIM_INFINITY))
    return limit


class StreamedBodies(Elsewhere):
    """A body is decoded while it is read, but what the run shows comes in
    the order it always did: the table's lines once the first body has been
    read, then the path's checks, "Zapis souboru", then the write's
    outcome. Each row has a large first body."""

    def test_order_of_events(self):
        cut = h.archive([(b"sub/big.bin", B64, BIG_BODY)], close=False)
        # The archive ends inside a full line, on a whole group.
        cut = cut[:cut.rfind(b"\r\n", 0, len(cut) - 2) + 2 + 40]
        kept = cut[cut.index(b"\n\n", cut.index(b"Content-Location")) + 2:]
        # (what, part's path, base64.conf, files, preexec, archive or None,
        #  stdout after the progress line, status, what the run leaves)
        rows = [
            ("no table", b"sub/big.bin", None, None, None, None,
             b"Chyba. Tabulka rozlozeni [base64.conf] nenalezena.\n", 253, {}),
            ("a malformed table", b"sub/big.bin", b"1 B\n26", None, None,
             None, b"Base64table [B]  = 1\n"
             b"Chyba. Soubor [base64.conf] ma chybny format. \n"
             b"Radek: 26; i = 3 strlen: 2\n", 253, {}),
            ("an unsafe path", b"sub/../../big.bin", True, None, None, None,
             h.conf_echo() + unsafe(b"sub/../../big.bin"), 252, {}),
            ("a directory at the name", b"big.bin", True,
             {"big.bin/keep": VICTIM}, None, None,
             h.conf_echo() + writing(b"big.bin", True), 252, {}),
            ("a failed write", b"sub/big.bin", True,
             {"sub/big.bin": VICTIM}, size_limit(signal.SIG_IGN), None,
             h.conf_echo() + writing(b"sub/big.bin", True) +
             b"Chyba. Zapis do souboru sub/big.bin selhal.\n", 252, {}),
            ("the archive ending mid-body", b"sub/big.bin", True, None, None,
             cut, h.conf_echo() + writing(b"sub/big.bin", True), 0,
             {"sub": DIR,
              "sub/big.bin": base64.b64decode(kept.replace(b"\r\n", b""))}),
        ]
        for (what, path, conf, files, preexec, arc, said, status,
             left) in rows:
            with self.subTest(what):
                arc = arc or h.archive([(path, B64, BIG_BODY),
                                        (b"never.txt", QP, b"n\n")])
                r = self.run_tool({"a.mht": arc}, conf=conf, files=files,
                                  preexec_fn=preexec)
                self.assertEqual(r.stdout, progress(1, "a.mht") + said)
                self.assertEqual(r.status, status)
                self.assertEqual(r.created(), left)

    def test_killed_by_a_size_limit_mid_stream(self):
        # SIGXFSZ at its default action ends the run where the write was
        # always made: after "Zapis souboru", which reaches a pipe too.
        r = self.run_tool({"a.mht": h.archive([(b"big.bin", B64, BIG_BODY)])},
                          files={"big.bin": VICTIM},
                          preexec_fn=size_limit(signal.SIG_DFL))
        self.assertEqual(r.status, 128 + signal.SIGXFSZ)
        self.assertEqual(r.stdout, ok_stdout((b"big.bin", 1)))
        self.assertEqual(r.created(), {})

    @staticmethod
    def waits_in_read(pid, tty_fd):
        queued = struct.unpack("i", fcntl.ioctl(tty_fd, termios.FIONREAD,
                                                b"\0" * 4))[0]
        with open("/proc/%d/syscall" % pid) as f:
            return queued == 0 and f.read().split()[0] == "0"  # read

    def test_a_read_failing_mid_body(self):
        # The archive is a terminal whose other end closes once half a body
        # has been read: the next read fails (EIO), an honest read error.
        # The part leaves nothing: no table lines, no directory, no file.
        master, slave = os.openpty()
        tty.setraw(slave)
        path = os.ttyname(slave)
        arc = h.archive([(b"sub/big.bin", B64, BIG_BODY)])[:len(BIG_BODY) // 2]
        root = tempfile.mkdtemp(prefix="mimeunpack-e2e-", dir=self.outer)
        try:
            h.write_tree(root, {h.CONF_NAME: h.base64_conf()})
            proc = subprocess.Popen([h.binary(), path], cwd=root,
                                    stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL)
            view = memoryview(arc)
            while view:
                view = view[os.write(master, view[:65536]):]
            # Closed once every byte has been read and the tool waits in
            # read(2) for more: that read fails with EIO (a read begun
            # after the close would see the end of the file instead).
            while not self.waits_in_read(proc.pid, slave):
                time.sleep(0.01)
            os.close(master)
            out, _ = proc.communicate(timeout=h.TIMEOUT_SECONDS)
            self.assertEqual(out, progress(1, path) +
                             b"Chyba. Nemohu otevrit soubor" +
                             os.fsencode(path) + b".\n")
            self.assertEqual(proc.returncode, 254)
            self.assertEqual(os.listdir(root), [h.CONF_NAME])
        finally:
            os.close(slave)
            shutil.rmtree(root, ignore_errors=True)


IN_CREATE, IN_MOVED_TO, IN_NONBLOCK = 0x100, 0x80, 0o4000


class Inotify:
    """The names made in some directories, as the kernel reports them."""

    def __init__(self):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(IN_NONBLOCK)
        if self.fd < 0:
            raise unittest.SkipTest("no inotify")
        self.dirs = {}

    def watch(self, path, shown):
        wd = self.libc.inotify_add_watch(self.fd, os.fsencode(path),
                                         IN_CREATE | IN_MOVED_TO)
        self.dirs[wd] = shown

    def names(self):
        made = []
        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                return made
            at = 0
            while at < len(data):
                wd, _, _, size = struct.unpack_from("iIII", data, at)
                name = data[at + 16:at + 16 + size].rstrip(b"\0")
                made.append(self.dirs[wd] + name)
                at += 16 + size

    def close(self):
        os.close(self.fd)


class TemporaryFiles(unittest.TestCase):
    """A part's file gets its name without any other name in between, in
    its own directory, below it and on another file system mounted there
    (so that even SIGKILL leaves nothing behind)."""

    def mount(self, path):
        if os.geteuid() != 0:
            return False
        os.mkdir(path)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m",
                               "none", path], stderr=subprocess.DEVNULL)
        if done.returncode != 0:
            os.rmdir(path)
            return False
        def unmount():
            subprocess.run(["umount", "-l", path])
            shutil.rmtree(os.path.dirname(path), True)
        self.addCleanup(unmount)
        return True

    def test_only_final_names_are_made(self):
        watcher = Inotify()
        self.addCleanup(watcher.close)
        mounted = []

        def setup(root):
            os.mkdir(os.path.join(root, "sub"))
            if self.mount(os.path.join(root, "mnt")):
                watcher.watch(os.path.join(root, "mnt"), b"mnt/")
                mounted.append(True)
            watcher.watch(root, b"")
            watcher.watch(os.path.join(root, "sub"), b"sub/")

        parts = [b"a.txt", b"sub/b.bin", b"mnt/c.bin", b"d.bin"]
        r = h.run({"a.mht": h.archive([(p, B64, BIG_BODY) for p in parts])},
                  setup=setup, keep=True)
        self.addCleanup(shutil.rmtree, r.root, True)
        self.assertEqual(r.stdout, ok_stdout(*[(p, 1) for p in parts]))
        self.assertEqual(r.status, 0)
        if not mounted:
            parts.remove(b"mnt/c.bin")
        for p in parts:
            with open(os.path.join(r.root, os.fsdecode(p)), "rb") as f:
                self.assertEqual(f.read(), BIG, p)
        self.assertEqual(watcher.names(), parts)


class Edges(unittest.TestCase):

    def test_stdout_comes_before_stderr(self):
        # Lines on standard output are held in blocks through a pipe, but
        # one said on standard error comes after them. The hint for a
        # layout the default mode doesn't read is said while y.mht is read.
        reordered = h.archive([
            b"Content-Type: text/html; charset=utf-8\n"
            b"Content-Location: https://h/\n"
            b"Content-Transfer-Encoding: quoted-printable\n\nx\n"])
        good = h.archive([(b"a.txt", QP, b"a\n")])
        root = tempfile.mkdtemp(prefix="mimeunpack-e2e-")
        self.addCleanup(shutil.rmtree, root, True)
        h.write_tree(root, {"y.mht": reordered, "a.mht": good,
                            h.CONF_NAME: h.base64_conf()})
        proc = subprocess.run([h.binary(), "y.mht", "a.mht"], cwd=root,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT,
                              timeout=h.TIMEOUT_SECONDS)
        hint = (b"Tip: soubor y.mht ma jine rozlozeni casti; zkuste "
                b"mimeunpack --any-layout.\n")
        out = proc.stdout
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(out.count(hint), 1, out)
        self.assertGreater(out.index(hint), len(progress(2, "y.mht")) - 1)
        self.assertLess(out.index(hint), out.index(progress(1, "a.mht")))
        self.assertTrue(out.endswith(writing(b"a.txt", 0)), out)

    def test_signals_end_the_run_with_every_line_out(self):
        # The archive is a FIFO: the first part comes whole, then the run
        # waits for more and is ended by a signal. What it said reaches
        # the pipe; the part it was reading leaves nothing.
        first = h.archive([(b"first.txt", QP, b"1\n")], close=False)
        for signal_number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=signal_number):
                root = tempfile.mkdtemp(prefix="mimeunpack-e2e-")
                self.addCleanup(shutil.rmtree, root, True)
                h.write_tree(root, {h.CONF_NAME: h.base64_conf()})
                fifo = os.path.join(root, "a.mht")
                os.mkfifo(fifo)
                # A writer stands before the tool opens the FIFO (which it
                # does without waiting): it never reads an early end.
                writer = os.open(fifo, os.O_RDWR)
                self.addCleanup(os.close, writer)
                # As the tool starts from a shell: the action is the
                # default, even where the test runner ignores the signal.
                proc = subprocess.Popen(
                    [h.binary(), "a.mht"], cwd=root, stdin=subprocess.DEVNULL,
                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                    preexec_fn=lambda s=signal_number: signal.signal(
                        s, signal.SIG_DFL))
                os.write(writer, first + b"--" + h.BOUNDARY + b"\n"
                         b"Content-Location: file:///C:/second.txt\n")
                written = os.path.join(root, "first.txt")
                for _ in range(h.TIMEOUT_SECONDS * 100):
                    if os.path.exists(written):
                        break
                    time.sleep(0.01)
                proc.send_signal(signal_number)
                out, _ = proc.communicate(timeout=h.TIMEOUT_SECONDS)
                self.assertEqual(proc.returncode, -signal_number)
                self.assertEqual(out, ok_stdout((b"first.txt", 0)))
                self.assertEqual(sorted(os.listdir(root)),
                                 ["a.mht", h.CONF_NAME, "first.txt"])


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
