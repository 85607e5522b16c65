"""End to end: "-" reads the archive from standard input, in every mode.
Each row runs the same archive once by its path and once through standard
input (a pipe, a FIFO, a file), and the two runs must show the same stdout
bytes (the path shown as "-"), status and files.

Run: python3 test_stdin.py [path/to/mimeunpack]
"""

import base64
import hashlib
import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness as h  # noqa: E402
from harness import progress  # noqa: E402

PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 3


def office_part(path, encoding, ctype, body):
    """A part both layouts read: location, encoding, type, blank line."""
    return (b"Content-Location: file:///C:/" + path + b"\n" +
            b"Content-Transfer-Encoding: " + encoding + b"\n" +
            b"Content-Type: " + ctype + b"\n\n" + body)


PAGE = office_part(b"doc/page.htm", b"quoted-printable",
                   b"text/html; charset=utf-8",
                   b'<html><body><img src=3D"img/a.png">=C4=8Dau</body>'
                   b"</html>\n")
IMAGE = office_part(b"doc/img/a.png", b"base64", b"image/png",
                    base64.encodebytes(PNG))
# Named so that by its path it lends -d and --single-file the names "-"
# gives: the two runs then leave the same files.
NAME = "stdin.mht"
ARCHIVE = h.archive([PAGE, IMAGE])
NOT_MIME = b"just some text, no MIME header\n"

MODES = [[], ["-l"], ["-a"], ["-a", "-l"], ["--offline"], ["--offline", "-l"],
         ["--single-file"], ["--single-file=-"], ["-d"], ["-a", "-d"],
         ["--json", "-l"], ["--json", "-a"], ["-q"], ["-k"]]


def as_shown_for_stdin(stdout):
    """A by-path run's stdout as the same run through "-" prints it."""
    out = stdout.replace(b"argv[1]: " + NAME.encode(), b"argv[1]: -")
    out = out.replace(b"soubor" + NAME.encode(), b"soubor-")
    out = out.replace(b" " + NAME.encode() + b" ", b" - ")
    return out.replace(b'"path":"' + NAME.encode() + b'"', b'"path":"-"')


def feed_pipe(stream, data, piece=None):
    """Writes data into stream, in pieces of `piece` bytes when given (each
    flushed, with a pause so the reader sees them one by one), then closes
    it."""
    try:
        if piece is None:
            stream.write(data)
        else:
            for at in range(0, len(data), piece):
                stream.write(data[at:at + piece])
                stream.flush()
                time.sleep(0.0005)
    except BrokenPipeError:
        pass  # the tool stopped reading: its status tells why
    finally:
        try:
            stream.close()
        except BrokenPipeError:
            pass


def run_with_input(args, data, how="pipe", piece=None, offset_junk=b"",
                   preexec_fn=None, archive_on_disk=True):
    """Runs the tool in a fresh directory holding base64.conf (and the
    archive under NAME), its standard input being `data` through `how`:
    "pipe", "fifo", "file" (a regular file, the shell's redirection; after
    `offset_junk`, already read past) or "write-end" (a descriptor it can't
    read). Returns harness.Result."""
    root = tempfile.mkdtemp(prefix="mimeunpack-e2e-")
    side = tempfile.mkdtemp(prefix="mimeunpack-e2e-in-")
    try:
        h.write_tree(root, {h.CONF_NAME: h.base64_conf()})
        if archive_on_disk:
            h.write_tree(root, {NAME: data})
        before = h.snapshot(root)
        command = [h.binary()] + args
        stdin = None
        writer = None
        if how == "pipe":
            stdin, write_end = os.pipe()
            writer = threading.Thread(
                target=feed_pipe,
                args=(os.fdopen(write_end, "wb"), data, piece))
        elif how == "fifo":
            fifo = os.path.join(side, "fifo")
            os.mkfifo(fifo)

            def write_fifo():
                with open(fifo, "wb") as out:
                    feed_pipe(out, data, piece)
            writer = threading.Thread(target=write_fifo)
            writer.start()
            stdin = open(fifo, "rb")  # waits for the writer, as a shell does
        elif how == "file":
            path = os.path.join(side, "input")
            with open(path, "wb") as f:
                f.write(offset_junk + data)
            stdin = open(path, "rb")
            stdin.seek(len(offset_junk))
        elif how == "write-end":
            read_end, write_end = os.pipe()
            os.close(read_end)
            stdin = write_end
        proc = subprocess.Popen(command, cwd=root, stdin=stdin,
                                stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE,
                                preexec_fn=preexec_fn)
        if how == "pipe":
            writer.start()
        if isinstance(stdin, int):
            os.close(stdin)
        elif stdin is not None:
            stdin.close()
        stdout, stderr = proc.communicate(timeout=h.TIMEOUT_SECONDS)
        if writer is not None:
            writer.join(h.TIMEOUT_SECONDS)
        status = proc.returncode
        if status < 0:
            status = 128 - status
        return h.Result(stdout, status, h.snapshot(root), before, root,
                        stderr)
    finally:
        shutil.rmtree(root, ignore_errors=True)
        shutil.rmtree(side, ignore_errors=True)


def digest(tree):
    """A tree with each file's bytes as their size and hash: a failure's
    report stays short however large the files."""
    return {path: (len(value), hashlib.sha256(value).hexdigest()[:16])
            if isinstance(value, bytes) else value
            for path, value in tree.items()}


def small_files():
    """A file-size limit of 64 KiB, its signal ignored: writes past it fail."""
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 16, 1 << 16))


def run_by_path(args, data):
    return run_with_input(args + [NAME], data, how=None)


class StandardInput(unittest.TestCase):

    def assert_same_as_by_path(self, args, data, **how):
        expected = run_by_path(args, data)
        got = run_with_input(args + ["-"], data, **how)
        self.assertEqual(got.stdout, as_shown_for_stdin(expected.stdout))
        self.assertEqual(got.status, expected.status)
        self.assertEqual(digest(got.created()), digest(expected.created()))
        self.assertEqual(got.stderr,
                         expected.stderr.replace(NAME.encode(), b"-"))
        return got

    def test_every_mode_through_a_pipe_a_fifo_and_a_file(self):
        for how in ("pipe", "fifo", "file"):
            for args in MODES:
                with self.subTest(how=how, args=args):
                    got = self.assert_same_as_by_path(args, ARCHIVE, how=how)
                    self.assertEqual(got.status, 0)
                    if "-l" not in args and "--single-file=-" not in args:
                        self.assertTrue(got.created())

    def test_names_made_after_stdin(self):
        cases = [(["-d"], "stdin/doc/img/a.png"),
                 (["-a", "-d"], "stdin/doc/img/a.png"),
                 (["--single-file"], "stdin.html")]
        for args, made in cases:
            with self.subTest(args=args):
                got = run_with_input(args + ["-"], ARCHIVE,
                                     archive_on_disk=False)
                self.assertEqual(got.status, 0)
                self.assertIn(made, got.created())

    def test_json_names_the_archive_dash(self):
        got = run_with_input(["--json", "-a", "-"], ARCHIVE)
        records = [json.loads(line) for line in got.stdout.splitlines()]
        self.assertEqual(records[0]["record"], "archive")
        self.assertEqual(records[0]["path"], "-")
        self.assertEqual(got.status, 0)

    def test_a_pipe_that_delivers_in_small_pieces(self):
        for args in ([], ["-a"], ["--offline"]):
            with self.subTest(args=args):
                self.assert_same_as_by_path(args, ARCHIVE, how="pipe",
                                            piece=7)
                self.assert_same_as_by_path(args, ARCHIVE, how="fifo",
                                            piece=7)

    def test_empty_or_not_mime_leaves_nothing_behind(self):
        for data in (b"", NOT_MIME):
            for how in ("pipe", "fifo"):
                for args in ([], ["-a"], ["--offline"], ["--single-file"],
                             ["-a", "-l"]):
                    with self.subTest(data=data, how=how, args=args):
                        got = self.assert_same_as_by_path(args, data,
                                                          how=how)
                        self.assertEqual(got.status, 253)
                        self.assertEqual(got.created(), {})

    def test_a_long_body_line(self):
        # One base64 line of 4 MiB: longer than the read block, so the
        # default mode passes over it and, from a file, reads it again.
        body = (bytes(range(251)) * ((3 << 20) // 251 + 1))[:3 << 20]
        data = h.archive([office_part(b"long.bin", b"base64",
                                      b"application/octet-stream",
                                      base64.b64encode(body) + b"\n"),
                          PAGE])
        for args in ([], ["-a"]):
            for how in ("pipe", "file"):
                with self.subTest(args=args, how=how):
                    got = self.assert_same_as_by_path(args, data, how=how)
                    self.assertEqual(got.status, 0)
                    self.assertEqual(digest(got.created())["long.bin"],
                                     digest({"long.bin": body})["long.bin"])

    def test_a_file_given_part_read_starts_where_it_stands(self):
        # What comes before (another archive here) has been read by the
        # shell: the tool reads on from there, and a long line read again
        # by its offset is the one after it.
        other = h.archive([office_part(b"other.txt", b"quoted-printable",
                                       b"text/plain", b"other\n")])
        long_line = base64.b64encode(bytes(range(256)) * 4096) + b"\n"
        data = h.archive([office_part(b"long.bin", b"base64",
                                      b"application/octet-stream",
                                      long_line), PAGE])
        for args in ([], ["-a"], ["--offline"], ["-a", "-l"]):
            with self.subTest(args=args):
                got = self.assert_same_as_by_path(
                    args, data, how="file", offset_junk=other)
                self.assertEqual(got.status, 0)
                self.assertNotIn("other.txt", got.created())

    def test_stdin_named_twice_is_refused(self):
        for args in (["-", "-"], ["-k", "-", "-"], ["-a", "-", "--", "-"]):
            with self.subTest(args=args):
                got = run_with_input(args, ARCHIVE)
                self.assertEqual(
                    got.stdout, b"Chyba. Standardni vstup (-) lze cist jen "
                    b"jednou. Napoveda: mimeunpack --help\n")
                self.assertEqual(got.status, 255)
                self.assertEqual(got.created(), {})

    def test_stdin_among_other_archives(self):
        # Under -k a failing stdin is one failure among the archives.
        got = run_with_input(["-k", "-a", "-", NAME], NOT_MIME)
        self.assertEqual(
            got.stdout, progress(2, "-") +
            b"Chyba. Soubor - neni MIME archiv.\n" + progress(1, NAME) +
            b"Chyba. Soubor stdin.mht neni MIME archiv.\n" +
            b"Archivu zpracovano: 0, s chybou: 2\n")
        self.assertEqual(got.status, 253)

    def test_a_long_line_that_cannot_be_put_aside(self):
        # Through a pipe the default mode puts a long body line aside in the
        # output directory: a file-size limit there fails it cleanly.
        line = base64.b64encode(bytes(1 << 20)) + b"\n"
        data = h.archive([office_part(b"long.bin", b"base64",
                                      b"application/octet-stream", line)])
        got = run_with_input(["-"], data, preexec_fn=small_files,
                             archive_on_disk=False)
        self.assertEqual(got.stdout, progress(1, "-") +
                         b"Chyba. Nemohu odlozit dlouhy radek souboru - do "
                         b"vystupniho adresare.\n")
        self.assertEqual(got.status, 252)
        self.assertEqual(got.created(), {})

    def test_a_failed_read_or_copy(self):
        big = h.archive([office_part(b"big.bin", b"base64",
                                     b"application/octet-stream",
                                     base64.encodebytes(bytes(1 << 20)))])
        cases = [
            ("write-end", None, b"Chyba. Cteni standardniho vstupu selhalo.\n",
             254),
            ("pipe", small_files, b"Chyba. Nemohu ulozit kopii standardniho "
             b"vstupu do adresare ..\n", 252),
        ]
        for how, limit, message, status in cases:
            for args in (["-a"], ["--single-file"], ["--offline", "-l"]):
                with self.subTest(how=how, args=args):
                    got = run_with_input(args + ["-"], big, how=how,
                                         preexec_fn=limit,
                                         archive_on_disk=False)
                    self.assertEqual(got.stdout, progress(1, "-") + message)
                    self.assertEqual(got.status, status)
                    self.assertEqual(got.created(), {})


if __name__ == "__main__":
    h.main()
