"""Memory: a body is decoded while it is read, so a part far larger than the
address space the run may use still comes out whole. Loading base64.conf
and making a part's directory keep their out-of-memory messages."""

import base64
import binascii
import hashlib
import os
import resource
import shutil
import subprocess
import tempfile
import unittest

import harness

LIMIT = 40 << 20  # address space for the run: enough to start, not for 46 MB


def limited():
    resource.setrlimit(resource.RLIMIT_AS, (LIMIT, LIMIT))


class Limited(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="mimeunpack-mem-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        harness.write_tree(self.root, {harness.CONF_NAME: harness.base64_conf()})

    def skip_unless_small_runs_fit(self):
        small = harness.archive([(b"small.txt", b"quoted-printable", b"hi\n")])
        if self.run_limited("small.mht", small).returncode != 0:
            self.skipTest("this build needs more address space than the "
                          "limit (a sanitizer build)")

    def run_limited(self, name, data, args=()):
        harness.write_tree(self.root, {name: data})
        return subprocess.run([harness.binary(), *args, name], cwd=self.root,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, preexec_fn=limited,
                              timeout=harness.TIMEOUT_SECONDS)


class OutOfMemory(Limited):

    def test_part_larger_than_memory(self):
        self.skip_unless_small_runs_fit()
        # 72 MiB decoded, 97 MB of base64, under a 40 MiB address space.
        data = os.urandom(1 << 20) * 72
        body = base64.encodebytes(data).replace(b"\n", b"\r\n")
        big = harness.archive([(b"dir/big.bin", b"base64", body),
                               (b"after.txt", b"quoted-printable", b"ok\n")])
        del body
        proc = self.run_limited("big.mht", big)
        del big
        self.assertEqual(proc.stdout, harness.progress(1, "big.mht") +
                         harness.conf_echo() +
                         harness.writing(b"dir/big.bin", True) +
                         harness.writing(b"after.txt", False))
        self.assertEqual(proc.returncode, 0)
        with open(os.path.join(self.root, "dir", "big.bin"), "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(),
                             hashlib.sha256(data).digest())

    def test_base64conf_larger_than_memory(self):
        self.skip_unless_small_runs_fit()
        # Comment lines only: the file is read whole before any is parsed.
        harness.write_tree(self.root, {
            harness.CONF_NAME: (b"# " + b"x" * 76 + b"\n") * (LIMIT // 78 + 1)})
        data = harness.archive([(b"a.bin", b"base64", b"QUJD\n")])
        proc = self.run_limited("a.mht", data)
        self.assertEqual(proc.stdout, harness.progress(1, "a.mht") +
                         b"Chyba. Malo pameti. \n")
        self.assertEqual(proc.returncode, 254)
        self.assertFalse(os.path.exists(os.path.join(self.root, "a.bin")))

    def test_directory_too_deep(self):
        self.skip_unless_small_runs_fit()
        # 1 MB of path, half a million levels (a location line stays under
        # the header line limit): directories are reached beneath
        # the output directory without a path object per level, so the run
        # neither runs out of memory nor makes any of them; the part can't
        # be created, as for any path the file system refuses. (The
        # directory maker's own out-of-memory message is chosen in one
        # place, which the catalogue's unit test checks.)
        deep = b"d/" * 500_000 + b"f.txt"
        data = harness.archive([(deep, b"quoted-printable", b"hi\n")])
        proc = self.run_limited("deep.mht", data)
        self.assertEqual(proc.stdout, harness.progress(1, "deep.mht") +
                         harness.conf_echo() + harness.writing(deep, False))
        self.assertEqual(proc.returncode, 252)
        self.assertFalse(os.path.exists(os.path.join(self.root, "d")))


class OneLineBodies(Limited):
    """Body lines are streamed whatever their length: a line is passed over
    to see whether it holds the boundary, then read again in blocks."""

    def test_one_line_base64_larger_than_memory(self):
        self.skip_unless_small_runs_fit()
        data = os.urandom(1 << 20) * 72
        line = base64.b64encode(data) + b"\r\n"
        big = harness.archive([(b"big.bin", b"base64", line),
                               (b"after.txt", b"quoted-printable", b"ok\n")])
        del line
        for args, expected in (
                ([], harness.conf_echo() + harness.writing(b"big.bin", True) +
                 harness.writing(b"after.txt", False)),
                (["-l"], b"   Velikost  Kodovani          Cesta\n"
                 b"-----------  ----------------  -----\n"
                 b"   75497472  base64            big.bin\n"
                 b"          3  quoted-printable  after.txt\n"
                 b"-----------                    -----\n"
                 b"   75497475                    2 casti\n")):
            proc = self.run_limited("big.mht", big, args)
            self.assertEqual(proc.stdout,
                             harness.progress(1, "big.mht") + expected, args)
            self.assertEqual(proc.returncode, 0)
        with open(os.path.join(self.root, "big.bin"), "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(),
                             hashlib.sha256(data).digest())

    def test_long_line_holding_the_boundary_ends_the_part(self):
        self.skip_unless_small_runs_fit()
        # 64 MiB on one line with the close delimiter near its end: the line
        # is no body, and the parts end there.
        line = b"x" * (64 << 20) + b"--" + harness.BOUNDARY + b"--x\n"
        big = harness.archive([(b"a.txt", b"quoted-printable",
                                b"kept\n" + line)], close=False)
        del line
        proc = self.run_limited("big.mht", big)
        self.assertEqual(proc.stdout, harness.progress(1, "big.mht") +
                         harness.conf_echo() +
                         harness.writing(b"a.txt", False))
        self.assertEqual(proc.returncode, 0)
        with open(os.path.join(self.root, "a.txt"), "rb") as f:
            self.assertEqual(f.read(), b"kept\n")


class AnyLayoutMemory(Limited):
    """-a and --offline read a body a block at a time too: a part several
    times larger than the address space comes out whole."""

    def test_parts_larger_than_memory(self):
        self.skip_unless_small_runs_fit()
        image = os.urandom(1 << 20) * 72
        # Stray bytes among the base64 lines (skipped under RFC 2045) and
        # a quoted-printable part of 48 MiB.
        body = base64.encodebytes(image).replace(b"\n", b"\r\n ")
        text = (b"caf\xc3\xa9 = " + b"x" * 60 + b"\r\n") * (48 << 14) + b"end"
        qp = binascii.b2a_qp(text.replace(b"\r\n", b"\n"),
                             istext=True).replace(b"\n", b"\r\n")
        big = (b"MIME-Version: 1.0\r\n"
               b"Content-Type: multipart/related; boundary=\"b\"\r\n\r\n"
               b"--b\r\nContent-Type: image/png\r\n"
               b"Content-Location: https://h.example/big.png\r\n"
               b"Content-Transfer-Encoding: base64\r\n\r\n" + body +
               b"\r\n--b\r\nContent-Type: text/plain\r\n"
               b"Content-Location: https://h.example/big.txt\r\n"
               b"Content-Transfer-Encoding: quoted-printable\r\n\r\n" + qp +
               b"\r\n--b--\r\n")
        del body, qp
        for args in (["-a"], ["--offline"]):
            proc = self.run_limited("big.mht", big, args)
            self.assertEqual(proc.returncode, 0, (args, proc.stdout))
            for name, data in (("big.png", image), ("big.txt", text)):
                with open(os.path.join(self.root, "h.example", name),
                          "rb") as f:
                    self.assertEqual(hashlib.sha256(f.read()).digest(),
                                     hashlib.sha256(data).digest(),
                                     (args, name))
            shutil.rmtree(os.path.join(self.root, "h.example"))

    def test_page_of_many_distinct_references(self):
        self.skip_unless_small_runs_fit()
        # 400,000 references, each named once and none a part: what the
        # rewriter remembers of its answers stays within a few MiB.
        page = b"<!DOCTYPE html><html><body>" + b"".join(
            b'<img src="pics/p%07d-abcdefghijklmnopqrstuvwxyz.png">\n' % i
            for i in range(400000)) + b"</body></html>"
        archive = (b"MIME-Version: 1.0\r\n"
                   b"Content-Type: multipart/related; boundary=\"b\"\r\n\r\n"
                   b"--b\r\nContent-Type: text/html\r\n"
                   b"Content-Location: https://h.example/\r\n"
                   b"Content-Transfer-Encoding: base64\r\n\r\n" +
                   base64.encodebytes(page) + b"\r\n--b--\r\n")
        for args, written in ((["--offline"], "h.example/index.html"),
                              (["--single-file"], "refs.html")):
            proc = self.run_limited("refs.mht", archive, args)
            self.assertEqual(proc.returncode, 0, (args, proc.stdout))
            with open(os.path.join(self.root, written), "rb") as f:
                self.assertEqual(f.read(), page, args)


if __name__ == "__main__":
    harness.main()
