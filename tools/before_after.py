#!/usr/bin/env python3
"""Makes the two pictures of README's before/after from examples/browser.mht:
docs/images/browser-before.png, the archive as a browser that does not open
.mht shows it (its text), and docs/images/browser-after.png, the one page
that --single-file writes from it, both in headless Chromium at 640x400.

Run from the source tree, after a build:
    python3 tools/before_after.py [build/mimeunpack]
Needs Debian's chromium; exits 77 without it.
"""

import os
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))

import chromium_page  # noqa: E402

SIZE = (640, 400)
ARCHIVE = os.path.join(SOURCE, "examples", "browser.mht")
IMAGES = os.path.join(SOURCE, "docs", "images")


def compact_png(screenshot):
    """The screenshot again, each row filtered against the one above and
    compressed hard: Chromium's own PNGs are made for speed, not size."""
    width, height, rows = chromium_page.screenshot_pixels(screenshot)
    raw, above = bytearray(), bytes(len(rows[0]))
    for row in rows:
        raw += b"\x02" + bytes((a - b) & 255 for a, b in zip(row, above))
        above = row
    return chromium_page.png_bytes(width, height, bytes(raw), 9)


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        SOURCE, "build", "mimeunpack")
    if not chromium_page.chromium():
        print("before_after: chromium is not installed (Debian package "
              "chromium)", file=sys.stderr)
        sys.exit(chromium_page.SKIP)
    os.makedirs(IMAGES, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="before-after-") as work:
        # A file the browser takes for text: what it shows of an archive it
        # cannot open.
        as_text = os.path.join(work, "browser.mht.txt")
        shutil.copyfile(ARCHIVE, as_text)
        single = os.path.join(work, "browser.html")
        subprocess.run([binary, "-q", "--single-file", "-C", work, ARCHIVE],
                       check=True, stdout=subprocess.DEVNULL)
        for page, name in ((as_text, "browser-before.png"),
                           (single, "browser-after.png")):
            shot = chromium_page.load_page(page, size=SIZE).screenshot
            with open(os.path.join(IMAGES, name), "wb") as f:
                f.write(compact_png(shot))
            print(os.path.join("docs", "images", name))


if __name__ == "__main__":
    main()
