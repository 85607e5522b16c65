"""In a real browser: the main page of examples/browser.mht, unpacked with
--offline, loads every image, stylesheet and script the archive holds from
disk with the network blocked; unpacked with --any-layout alone, it does not.

Run: python3 test_offline_browser.py [path/to/mimeunpack]
Exits 77 when Chromium is missing (Debian package chromium).
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import chromium_page  # noqa: E402
import harness as h  # noqa: E402

EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                       "examples", "browser.mht")
# What the page uses, as written by either mode: the stylesheet, the one it
# imports, the script, the cid: logo, the chart and the CSS background.
HELD = ["example.org/css/site.css", "example.org/css/print.css",
        "example.org/js/app.js", "cid/logo@example.org.png",
        "example.org/img/chart.png", "example.org/img/bg.png"]
MAIN = "example.org/index.html"


class OfflineBrowser(unittest.TestCase):
    def setUp(self):
        self.root = os.path.realpath(
            tempfile.mkdtemp(prefix="mimeunpack-browser-"))

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def unpack_and_load(self, mode):
        proc = subprocess.run([h.binary(), mode, os.path.abspath(EXAMPLE)],
                              cwd=self.root, capture_output=True,
                              timeout=h.TIMEOUT_SECONDS)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        for name in HELD + [MAIN]:
            self.assertTrue(os.path.isfile(os.path.join(self.root, name)),
                            name)
        return proc.stdout, chromium_page.load_page(
            os.path.join(self.root, MAIN))

    def url(self, name):
        return "file://" + self.root + "/" + name

    def test_offline_page_loads_everything_from_disk(self):
        out, load = self.unpack_and_load("--offline")
        self.assertTrue(out.endswith(b"Hlavni stranka: " + MAIN.encode() +
                                     b"\n"), out)
        self.assertEqual(load.failed(), [])
        self.assertEqual(load.blocked(), [])
        self.assertEqual(sorted(set(load.loaded())),
                         sorted(self.url(n) for n in HELD))
        types = {r.url[len(self.url("")):]: r.type for r in load.requests}
        self.assertEqual(types["example.org/js/app.js"], "Script")
        self.assertEqual(types["example.org/css/site.css"], "Stylesheet")
        self.assertEqual(types["cid/logo@example.org.png"], "Image")

    def test_without_offline_the_page_misses_its_parts(self):
        _, load = self.unpack_and_load("--any-layout")
        failed = [url for url, _ in load.failed()]
        # The stylesheet is asked of the network, the script of the disk's
        # root; so the imported sheet and the background never come.
        self.assertIn("https://example.org/css/site.css", load.blocked())
        self.assertIn("file:///js/app.js", failed)
        missing = [n for n in HELD if self.url(n) not in load.loaded()]
        self.assertIn("example.org/css/print.css", missing)
        self.assertIn("example.org/img/bg.png", missing)
        self.assertIn("cid/logo@example.org.png", missing)


if __name__ == "__main__":
    if not chromium_page.chromium():
        print("test_offline_browser: chromium is not installed; skipped "
              "(Debian package chromium)", file=sys.stderr)
        sys.exit(chromium_page.SKIP)
    h.main()
