"""In a real browser: the single file of a browser-saved archive (its
stylesheets, a web font and pictures inline) renders as Chromium renders
the archive itself, at least as closely as the --offline directory does,
and asks nothing of the disk or the network for the parts it holds; with
--no-network, neither it nor the --offline page asks anything of the
network at all.

Run: python3 test_single_file_browser.py [path/to/mimeunpack]
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
import local_site  # noqa: E402
import test_offline_compare as compare  # noqa: E402

# A page that asks a server for what the archive lacks.
FOREIGN = b"http://127.0.0.1:9/"
REMOTE_PAGE = (b'<!DOCTYPE html><html><head><link rel="stylesheet" href="' +
               FOREIGN + b'r.css"></head><body><img src="' + FOREIGN +
               b'a.png"><p style="background:url(' + FOREIGN +
               b'b.png)">x</p></body></html>')

# A page whose every kind of reference names a server run by the test
# (ORIGIN is replaced by its address): none of them is in the archive.
SERVED_PAGE = b"""<!DOCTYPE html><html><head>
<link rel="stylesheet" href="ORIGINstyle.css">
<script src="ORIGINapp.js"></script>
<style>@font-face { font-family: Served; src: url(ORIGINfont.woff) }
h1 { font-family: Served, serif }</style></head><body><h1>Nadpis</h1>
<img src="ORIGINpicture.png">
<p style="background: url(ORIGINbackground.png)">Text</p>
<iframe src="ORIGINframe.html"></iframe>
<script>fetch("ORIGINfetched.json")</script>
</body></html>"""
SERVED_PATHS = ["/app.js", "/background.png", "/fetched.json", "/font.woff",
                "/frame.html", "/picture.png", "/style.css"]


class SingleFileBrowser(unittest.TestCase):
    def setUp(self):
        self.root = os.path.realpath(
            tempfile.mkdtemp(prefix="mimeunpack-single-"))

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def write(self, data):
        archive = os.path.join(self.root, "news.mhtml")
        with open(archive, "wb") as f:
            f.write(data)
        return archive

    def unpack(self, archive, *args):
        out = tempfile.mkdtemp(dir=self.root)
        proc = subprocess.run([h.binary(), *args, "-C", out, archive],
                              cwd=self.root, capture_output=True,
                              timeout=h.TIMEOUT_SECONDS)
        self.assertEqual(proc.returncode, 0, proc.stdout)
        main = proc.stdout.rsplit(b"Hlavni stranka: ", 1)[1].rstrip(b"\n")
        return os.path.join(self.root, main.decode())

    def test_renders_as_its_archive_without_asking_for_parts(self):
        archive = self.write(compare.news_archive())
        reference = chromium_page.load_page(archive, size=compare.SIZE)
        single = chromium_page.load_page(
            self.unpack(archive, "--single-file"), size=compare.SIZE)
        offline = chromium_page.load_page(
            self.unpack(archive, "--offline"), size=compare.SIZE)
        share = chromium_page.differing_share(reference.screenshot,
                                              single.screenshot)
        offline_share = chromium_page.differing_share(reference.screenshot,
                                                      offline.screenshot)
        print("differing pixels: single file %.4f, offline %.4f"
              % (share, offline_share), file=sys.stderr)
        self.assertLessEqual(share, max(offline_share,
                                        compare.MOST_DIFFERING))
        asked = [r.url for r in single.requests
                 if not r.url.startswith("data:")]
        self.assertEqual(asked, [])
        self.assertEqual(single.failed(), [])

    def test_no_network_asks_nothing_of_the_network(self):
        archive = self.write(compare.mhtml([compare.part(
            b"text/html", b"https://news.example/today/", REMOTE_PAGE)]))
        for args in (("--single-file",), ("--offline",)):
            with self.subTest(args):
                page = self.unpack(archive, *args)
                # Without it, the harness blocks what would reach the server.
                self.assertNotEqual(chromium_page.load_page(page).blocked(),
                                    [])
                load = chromium_page.load_page(
                    self.unpack(archive, *args, "--no-network"))
                self.assertEqual(load.blocked(), [], load.requests)
                self.assertEqual([u for u in load.loaded()
                                  if u.startswith("http")], [])

    # The server, not the harness, sees what gets out: nothing is blocked
    # on the way to it.
    def test_no_network_sends_nothing_to_a_real_server(self):
        with local_site.LocalSite({}) as site:
            archive = self.write(compare.mhtml([compare.part(
                b"text/html", b"https://news.example/today/",
                SERVED_PAGE.replace(b"ORIGIN", site.origin.encode()))]))
            for args, asked in ((("--single-file",), SERVED_PATHS),
                                (("--offline",), SERVED_PATHS),
                                (("--single-file", "--no-network"), []),
                                (("--offline", "--no-network"), [])):
                with self.subTest(args):
                    page = self.unpack(archive, *args)
                    del site.requests[:]
                    load = chromium_page.load_page(page,
                                                   allow=(site.origin,))
                    self.assertEqual(sorted(set(site.requests)), asked)
                    self.assertEqual(load.blocked(), [])


if __name__ == "__main__":
    if not chromium_page.chromium():
        print("test_single_file_browser: chromium is not installed; skipped "
              "(Debian package chromium)", file=sys.stderr)
        sys.exit(chromium_page.SKIP)
    h.main()
