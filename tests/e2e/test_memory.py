"""Out of memory: a body larger than the address space the run may use ends
with the out-of-memory message and 251, never a crash or a half-written
file reported as success. Loading base64.conf and making a part's directory
keep messages of their own."""

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


class OutOfMemory(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="mimeunpack-mem-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        harness.write_tree(self.root, {harness.CONF_NAME: harness.base64_conf()})

    def skip_unless_small_runs_fit(self):
        small = harness.archive([(b"small.txt", b"quoted-printable", b"hi\n")])
        if self.run_limited("small.mht", small).returncode != 0:
            self.skipTest("this build needs more address space than the "
                          "limit (a sanitizer build)")

    def run_limited(self, name, data):
        harness.write_tree(self.root, {name: data})
        return subprocess.run([harness.binary(), name], cwd=self.root,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, preexec_fn=limited,
                              timeout=harness.TIMEOUT_SECONDS)

    def test_body_larger_than_memory(self):
        self.skip_unless_small_runs_fit()
        body = (b"A" * 76 + b"\n") * 600_000  # 46 MB of base64
        big = harness.archive([(b"big.bin", b"base64", body)])
        proc = self.run_limited("big.mht", big)
        # The body is gathered before the first decoder loads base64.conf.
        self.assertEqual(proc.stdout, harness.progress(1, "big.mht") +
                         b"Chyba. Nedostatek pameti. \n")
        self.assertEqual(proc.returncode, 251)
        self.assertFalse(os.path.exists(os.path.join(self.root, "big.bin")))

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
        # 2 MB of path, a million levels: directories are reached beneath
        # the output directory without a path object per level, so the run
        # neither runs out of memory nor makes any of them; the part can't
        # be created, as for any path the file system refuses. (The
        # directory maker's own out-of-memory message is chosen in one
        # place, which the catalogue's unit test checks.)
        deep = b"d/" * 1_000_000 + b"f.txt"
        data = harness.archive([(deep, b"quoted-printable", b"hi\n")])
        proc = self.run_limited("deep.mht", data)
        self.assertEqual(proc.stdout, harness.progress(1, "deep.mht") +
                         harness.conf_echo() + harness.writing(deep, False))
        self.assertEqual(proc.returncode, 252)
        self.assertFalse(os.path.exists(os.path.join(self.root, "d")))


if __name__ == "__main__":
    harness.main()
