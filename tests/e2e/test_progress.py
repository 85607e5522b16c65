"""End to end: --progress's bar on standard error, given a pseudo-terminal.

An archive arrives through a FIFO whose writer stops midway for 1.5 s once
the tool has the FIFO open: the pause only makes the archive take over a
second, so the bar appears; what is asserted is the bytes on the terminal
(drawn, cleared, never over a line) and on standard output, not any time.

Run: python3 test_progress.py [path/to/mimeunpack]
"""

import base64
import os
import pty
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import progress, writing  # noqa: E402

B64 = b"base64"
QP = b"quoted-printable"
PAUSE_SECONDS = 1.5
DATA = bytes(range(256)) * 64
ARC = h.archive([(b"page.htm", QP, b"caf=C3=A9\n"),
                 (b"img/p.bin", B64, base64.encodebytes(DATA))])
# Cut inside the second part's body: the reads after the pause carry bytes.
CUT = len(ARC) - 4096
# A last part that ends after its location line: a format fault.
BAD = (ARC[:CUT] + b"\n--" + h.BOUNDARY +
       b"\nContent-Location: file:///C:/cut.htm\n")
PRINTED = (progress(1, "pipe") + h.conf_echo() + writing(b"page.htm", 0) +
           writing(b"img/p.bin", 1))

DRAW = re.compile(rb"\r(nacteno [^\r\n\x1b]*)\x1b\[K")
ERASE = b"\r\x1b[K"


def on_terminal(stream):
    """Splits what reached the terminal into the bars drawn and the rest,
    checking that the bar never stood under anything else written there and
    is gone at the end. Returns (bars, rest)."""
    bars, rest, shown, at = [], b"", False, 0
    while at < len(stream):
        drawn = DRAW.match(stream, at)
        if drawn:
            bars.append(drawn[1])
            shown = True
            at = drawn.end()
        elif stream.startswith(ERASE, at):
            if not shown:
                raise AssertionError("erased with no bar shown at %d" % at)
            shown = False
            at += len(ERASE)
        else:
            if shown:
                raise AssertionError("written over the bar: %r" %
                                     stream[at:at + 40])
            rest += stream[at:at + 1]
            at += 1
    if shown:
        raise AssertionError("the bar stays at the end")
    return bars, rest


def run_through_fifo(args, arc=ARC, stderr_terminal=True,
                     stdout_terminal=False, interrupt=False):
    """Runs the tool on "pipe", a FIFO fed with arc in two pieces around a
    pause (with `interrupt`, a few bytes after it and then SIGTERM once the
    bar stands). Returns (stdout bytes, terminal bytes, stderr bytes,
    status)."""
    root = tempfile.mkdtemp(prefix="mimeunpack-e2e-")
    try:
        h.write_tree(root, {h.CONF_NAME: h.base64_conf()})
        fifo = os.path.join(root, "pipe")
        os.mkfifo(fifo)
        # Held for reading and writing: the first piece waits in the pipe,
        # and the tool reads on until this end closes.
        feed = os.open(fifo, os.O_RDWR)
        master = slave = None
        if stderr_terminal or stdout_terminal:
            master, slave = pty.openpty()
            tty.setraw(slave)
        try:
            os.write(feed, arc[:CUT])
            proc = subprocess.Popen(
                [h.binary()] + args + ["pipe"], cwd=root,
                stdin=subprocess.DEVNULL,
                stdout=slave if stdout_terminal else subprocess.PIPE,
                stderr=slave if stderr_terminal else subprocess.PIPE)
        finally:
            if slave is not None:
                os.close(slave)
        terminal = bytearray()

        def read_terminal():
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # EIO: every writer has closed it
                    return
                if not chunk:
                    return
                terminal.extend(chunk)

        reader = None
        if master is not None:
            reader = threading.Thread(target=read_terminal)
            reader.start()
        try:
            deadline = time.monotonic() + h.TIMEOUT_SECONDS
            while not h.has_open(proc.pid, fifo):
                assert proc.poll() is None, "ended before opening the FIFO"
                assert time.monotonic() < deadline
                time.sleep(0.01)
            time.sleep(PAUSE_SECONDS)
            if interrupt:
                os.write(feed, arc[CUT:CUT + 1024])
                while not DRAW.search(bytes(terminal)):
                    assert time.monotonic() < deadline, "no bar"
                    time.sleep(0.01)
                proc.send_signal(signal.SIGTERM)
            else:
                os.write(feed, arc[CUT:])
        finally:
            os.close(feed)
        out, err = proc.communicate(timeout=h.TIMEOUT_SECONDS)
        if reader is not None:
            reader.join(timeout=h.TIMEOUT_SECONDS)
            os.close(master)
        return out or b"", bytes(terminal), err or b"", proc.returncode
    finally:
        shutil.rmtree(root, ignore_errors=True)


class Bar(unittest.TestCase):

    def test_drawn_and_cleared_on_the_terminal(self):
        # Standard output a pipe: its bytes as without --progress. On the
        # bar's own terminal: each line comes with the bar out of the way,
        # and the bytes left are the tool's lines. A FIFO has no size: the
        # bar shows bytes and rate only.
        total = b"Archivu zpracovano: 1, s chybou: 0\n"
        for args, stdout_terminal, printed in (
                (["--progress"], False, PRINTED),
                (["--progress", "-k"], False, PRINTED + total),
                (["--progress"], True, PRINTED)):
            with self.subTest(args=args, stdout_terminal=stdout_terminal):
                out, terminal, _, status = run_through_fifo(
                    args, stdout_terminal=stdout_terminal)
                self.assertEqual(status, 0)
                bars, rest = on_terminal(terminal)
                self.assertTrue(bars, terminal)
                self.assertEqual(rest if stdout_terminal else out, printed)
                for bar in bars:
                    self.assertRegex(bar, rb"^nacteno \d+(\.\d)? K?i?B, "
                                          rb"\d+(\.\d)? [KM]?i?B/s$")

    def test_cleared_before_a_failure(self):
        # The bar goes before the message, whether the run ends there or
        # goes on; the hint on standard error makes way for it too.
        failed = (b"Tip: soubor pipe ma jine rozlozeni casti; zkuste "
                  b"mimeunpack --any-layout.\n"
                  b"Chyba. Soubor zrejme nema spravny format.\n")
        for args, tail in ((["--progress"], b""),
                           (["--progress", "-k"],
                            b"Archivu zpracovano: 0, s chybou: 1\n")):
            with self.subTest(args=args):
                _, terminal, _, status = run_through_fifo(
                    args, arc=BAD, stdout_terminal=True)
                self.assertEqual(status, 253)
                bars, rest = on_terminal(terminal)
                self.assertTrue(bars)
                self.assertEqual(rest, PRINTED + failed + tail)

    def test_cleared_when_interrupted(self):
        # Ended by a signal before any file is written (-l writes none):
        # the bar still goes, and the signal ends the run as it would.
        _, terminal, _, status = run_through_fifo(["--progress", "-l"],
                                                  interrupt=True)
        self.assertEqual(status, -signal.SIGTERM)
        bars, _ = on_terminal(terminal)
        self.assertTrue(bars)

    def test_absent(self):
        # Through a pipe, with -q, and without --progress (the default mode
        # as it always was), standard error gets nothing.
        for args, stderr_terminal, printed in (
                (["--progress"], False, PRINTED),
                (["-q", "--progress"], True, b""),
                ([], True, PRINTED)):
            with self.subTest(args=args, terminal=stderr_terminal):
                out, terminal, err, status = run_through_fifo(
                    args, stderr_terminal=stderr_terminal)
                self.assertEqual(status, 0)
                self.assertEqual(out, printed)
                self.assertEqual(terminal + err, b"")


if __name__ == "__main__":
    h.main()
