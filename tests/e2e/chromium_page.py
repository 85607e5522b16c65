"""Opens a local HTML file in headless Chromium with every network request
blocked and reports which sub-resources (images, stylesheets, scripts,
fonts...) loaded from disk and which failed.

Chromium is driven over the DevTools protocol on a pipe
(--remote-debugging-pipe: JSON messages ended by NUL, commands on the
child's fd 3, replies and events on its fd 4). Requests for anything but
file: URLs are failed in the Fetch domain before they leave the browser;
the host resolver knows no host either, as a second fence.

    python3 chromium_page.py PAGE.html     prints the result as JSON

A test that runs a server of its own on this machine names it in `allow`
(URL prefixes such as "http://127.0.0.1:8123/"): its requests go through,
every other one is still failed. save_mhtml() has Chromium save a page it
loaded that way as MHTML itself.

load_page(..., size=(w, h)) also turns scripts off (an MHTML document never
runs them), renders at that viewport and scale 1, and keeps a PNG
screenshot of it; screenshot_pixels() reads one back as RGB rows.
Exits 77 when no Chromium is installed ($CHROMIUM, else chromium on PATH).
"""

import base64
import fcntl
import json
import os
import pathlib
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib
from dataclasses import dataclass, field

SKIP = 77
BLOCKED = "net::ERR_BLOCKED_BY_CLIENT"

FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
    "--no-first-run", "--no-default-browser-check",
    "--disable-background-networking", "--disable-component-update",
    "--disable-sync", "--disable-extensions", "--disable-default-apps",
    "--metrics-recording-only", "--mute-audio",
    "--remote-debugging-pipe",
]


# Debian's /usr/bin/chromium is a shell script that adds flags of its own
# (extensions among them); the browser itself is beside its libraries.
DEBIAN_BINARY = "/usr/lib/chromium/chromium"


def chromium():
    """The Chromium binary, or None when none is installed."""
    chosen = os.environ.get("CHROMIUM")
    if chosen:
        return chosen if os.access(chosen, os.X_OK) else None
    if os.access(DEBIAN_BINARY, os.X_OK):
        return DEBIAN_BINARY
    return shutil.which("chromium")


@dataclass
class Request:
    url: str
    type: str  # Image, Stylesheet, Script, Font, Document...
    status: int = 0  # from the response, 0 when there was none
    error: str = ""  # errorText of a failed load, empty when it loaded
    finished: bool = False


@dataclass
class PageLoad:
    page: str  # the file: URL opened
    requests: list = field(default_factory=list)  # sub-resources, in order
    screenshot: bytes = b""  # PNG, when a size was asked for
    session: str = ""  # the DevTools session of the page's tab

    def loaded(self):
        return [r.url for r in self.requests if r.finished and not r.error]

    def failed(self):
        return [(r.url, r.error or "unfinished") for r in self.requests
                if r.error or not r.finished]

    def blocked(self):
        # Chromium names the blocker: "...BY_CLIENT.Inspector" for Fetch.
        return [r.url for r in self.requests if r.error.startswith(BLOCKED)]

    def as_json(self):
        return {"page": self.page, "loaded": self.loaded(),
                "failed": self.failed(), "blocked": self.blocked(),
                "requests": [r.__dict__ for r in self.requests]}


def _above_4(fd):
    moved = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 5)
    os.close(fd)
    return moved


class DevTools:
    """One Chromium process and the pipe to it."""

    def __init__(self, binary, profile, resolver="MAP * ~NOTFOUND"):
        # Above fd 4, so that the child's dup2 onto 3 and 4 always copies
        # (a dup2 onto itself would keep the close-on-exec flag).
        to_child_r, self._to_child = map(_above_4, os.pipe())
        self._from_child, from_child_w = map(_above_4, os.pipe())

        def on_fds_3_and_4():
            os.dup2(to_child_r, 3)
            os.dup2(from_child_w, 4)

        # Descriptors Python opens are not inherited; the two dup2 copies
        # are, and close_fds=False keeps them past the fork.
        self.process = subprocess.Popen(
            [binary, *FLAGS, "--host-resolver-rules=" + resolver,
             "--user-data-dir=" + profile, "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, close_fds=False,
            preexec_fn=on_fds_3_and_4)
        os.close(to_child_r)
        os.close(from_child_w)
        self._buffer = b""
        self._next_id = 0
        self.events = []  # (method, params, sessionId) not yet handled

    def close(self):
        try:
            self.send("Browser.close")
        except OSError:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self._to_child)
        os.close(self._from_child)

    def send(self, method, params=None, session=None):
        self._next_id += 1
        message = {"id": self._next_id, "method": method,
                   "params": params or {}}
        if session:
            message["sessionId"] = session
        data = json.dumps(message).encode() + b"\0"
        while data:
            data = data[os.write(self._to_child, data):]
        return self._next_id

    def receive(self, deadline):
        """The next message, or None when the deadline passes."""
        while b"\0" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self._from_child], [], [], left)
            if not ready:
                return None
            chunk = os.read(self._from_child, 1 << 16)
            if not chunk:
                raise RuntimeError("chromium closed the DevTools pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, timeout=30):
        """Sends a command and waits for its reply; events that arrive in
        the meantime are kept in self.events."""
        wanted = self.send(method, params, session)
        deadline = time.monotonic() + timeout
        while True:
            message = self.receive(deadline)
            if message is None:
                raise TimeoutError(method)
            if message.get("id") == wanted:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)


def load_page(path, timeout=60, settle=0.5, size=None, allow=()):
    """Opens `path` (a file, or a URL under one of the `allow` prefixes)
    and waits for its load event and then for `settle` seconds without
    network activity; returns a PageLoad. With `size` (width, height), the
    page is rendered without scripts at that viewport and a screenshot kept,
    taken again until two in a row are equal."""
    return _with_browser(path, allow, lambda tools, url: _load(
        tools, url, timeout, settle, size, allow))


def save_mhtml(url, allow, timeout=60, settle=0.5):
    """(MHTML bytes Chromium saves of `url` once it loaded, PageLoad)."""
    def load_and_save(tools, url):
        result = _load(tools, url, timeout, settle, allow=allow)
        saved = tools.call("Page.captureSnapshot", {"format": "mhtml"},
                           result.session)["data"]
        return saved.encode("utf-8"), result
    return _with_browser(url, allow, load_and_save)


def _with_browser(path, allow, run):
    binary = chromium()
    if not binary:
        raise FileNotFoundError("chromium is not installed")
    url = path if "://" in path else pathlib.Path(path).resolve().as_uri()
    # The resolver fence keeps knowing no name; the loopback addresses a
    # test allows are literals it does not resolve.
    resolver = "MAP * ~NOTFOUND" + "".join(
        ", EXCLUDE " + prefix.split("/")[2].rsplit(":", 1)[0]
        for prefix in allow)
    with tempfile.TemporaryDirectory(prefix="chromium-profile-") as profile:
        tools = DevTools(binary, profile, resolver)
        try:
            return run(tools, url)
        finally:
            tools.close()


def _load(tools, url, timeout, settle, size=None, allow=()):
    deadline = time.monotonic() + timeout
    target = tools.call("Target.createTarget", {"url": "about:blank"})
    session = tools.call("Target.attachToTarget",
                         {"targetId": target["targetId"],
                          "flatten": True})["sessionId"]
    tools.call("Fetch.enable", {"patterns": [{"urlPattern": "*"}]}, session)
    tools.call("Network.enable", {}, session)
    tools.call("Network.setCacheDisabled", {"cacheDisabled": True}, session)
    tools.call("Page.enable", {}, session)
    if size:
        tools.call("Emulation.setDeviceMetricsOverride",
                   {"width": size[0], "height": size[1],
                    "deviceScaleFactor": 1, "mobile": False}, session)
        tools.call("Emulation.setScriptExecutionDisabled", {"value": True},
                   session)
    tools.events.clear()  # about:blank's own events
    tools.send("Page.navigate", {"url": url}, session)

    result = PageLoad(url, session=session)
    by_id = {}
    loaded = False
    quiet_since = time.monotonic()
    while True:
        now = time.monotonic()
        if now > deadline:
            raise TimeoutError("the page did not finish loading: " + url)
        if loaded and now - quiet_since >= settle and all(
                r.finished or r.error for r in by_id.values()):
            if size:
                result.screenshot = _steady_screenshot(tools, session,
                                                       deadline)
            return result
        if tools.events:
            message = tools.events.pop(0)
        else:
            message = tools.receive(min(deadline, now + settle / 2))
            if message is None or "method" not in message:
                continue
        if message.get("sessionId") != session:
            continue
        method, params = message["method"], message.get("params", {})
        quiet_since = time.monotonic()
        if method == "Fetch.requestPaused":
            if params["request"]["url"].startswith(("file:", *allow)):
                tools.send("Fetch.continueRequest",
                           {"requestId": params["requestId"]}, session)
            else:
                tools.send("Fetch.failRequest",
                           {"requestId": params["requestId"],
                            "errorReason": "BlockedByClient"}, session)
        elif method == "Page.loadEventFired":
            loaded = True
        elif method == "Network.requestWillBeSent":
            request_url = params["request"]["url"]
            if request_url == url or request_url.startswith("data:"):
                continue
            request = by_id.get(params["requestId"])
            if request is None or request.url != request_url:
                request = Request(request_url, params.get("type", "Other"))
                by_id[params["requestId"]] = request
                result.requests.append(request)
        elif method == "Network.responseReceived":
            request = by_id.get(params["requestId"])
            if request:
                request.status = params["response"].get("status", 0)
                # A frame from another site loads in a renderer of its own,
                # which reports the rest to a target not attached here.
                request.finished |= request.type == "Document"
        elif method == "Network.loadingFinished":
            request = by_id.get(params["requestId"])
            if request:
                request.finished = True
        elif method == "Network.loadingFailed":
            request = by_id.get(params["requestId"])
            if request:
                request.error = params.get("errorText") or "failed"


def _steady_screenshot(tools, session, deadline):
    """A screenshot equal to the one before it (fonts and pictures that
    decode late change the first ones)."""
    previous = None
    while time.monotonic() < deadline:
        shot = base64.b64decode(tools.call(
            "Page.captureScreenshot",
            {"format": "png", "optimizeForSpeed": True}, session)["data"])
        if shot == previous:
            return shot
        previous = shot
        time.sleep(0.2)
    raise TimeoutError("the page never rendered the same twice")


def png_bytes(width, height, filtered_rows, level=6):
    """An RGB PNG of `filtered_rows` (each row with its filter byte first)."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0,
                                       0)) +
            chunk(b"IDAT", zlib.compress(filtered_rows, level)) +
            chunk(b"IEND", b""))


def screenshot_pixels(png):
    """(width, height, rows): each row a bytes of RGB triples. Reads the
    8-bit, non-interlaced RGB and RGBA pictures Chromium writes."""
    if not png.startswith(b"\x89PNG\r\n\x1a\n"):
        raise ValueError("not a PNG")
    at, idat, header = 8, b"", None
    while at < len(png):
        length = int.from_bytes(png[at:at + 4], "big")
        kind, data = png[at + 4:at + 8], png[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            header = data
        elif kind == b"IDAT":
            idat += data
    width, height = (int.from_bytes(header[i:i + 4], "big") for i in (0, 4))
    depth, colour, interlace = header[8], header[9], header[12]
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError("unsupported PNG layout")
    step = 3 if colour == 2 else 4
    stride = width * step
    raw = zlib.decompress(idat)
    rows, above = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 2 and not any(line):
            line, kind = bytearray(above), 0  # the row above, again
        for i in range(stride if kind else 0):
            left = line[i - step] if i >= step else 0
            up = above[i]
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                corner = above[i - step] if i >= step else 0
                guess = left + up - corner
                near = min((abs(guess - left), 0), (abs(guess - up), 1),
                           (abs(guess - corner), 2))[1]
                line[i] = (line[i] + (left, up, corner)[near]) & 255
        above = line
        rows.append(bytes(line) if step == 3 else
                    bytes(b for i, b in enumerate(line) if i % 4 != 3))
    return width, height, rows


def differing_share(one, other, tolerance=24):
    """The share of pixels whose colour differs by more than `tolerance`
    in some channel, between two PNG screenshots of one size."""
    w1, h1, rows1 = screenshot_pixels(one)
    w2, h2, rows2 = screenshot_pixels(other)
    if (w1, h1) != (w2, h2):
        return 1.0
    differ = 0
    for row1, row2 in zip(rows1, rows2):
        if row1 == row2:
            continue
        for x in range(0, len(row1), 3):
            if any(abs(row1[x + c] - row2[x + c]) > tolerance
                   for c in range(3)):
                differ += 1
    return differ / (w1 * h1)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if not chromium():
        print("chromium_page: chromium is not installed; skipped",
              file=sys.stderr)
        sys.exit(SKIP)
    json.dump(load_page(sys.argv[1]).as_json(), sys.stdout, indent=1)
    print()


if __name__ == "__main__":
    main()
