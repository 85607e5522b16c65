"""A small web site served on 127.0.0.1 from memory, in a thread, that
counts the requests it answers: for tests that have Chromium load pages
from a real server (or check that nothing reaches one).

    with LocalSite({"/": ("text/html", b"..."), ...}) as site:
        site.url("/")       http://127.0.0.1:PORT/
        site.requests       the paths asked for, in order
"""

import http.server
import threading


class LocalSite:
    def __init__(self, files):
        self.files = dict(files)  # path -> (content type, body)
        self.requests = []
        self._lock = threading.Lock()
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):  # noqa: N802 (the name http.server calls)
                with site._lock:
                    site.requests.append(self.path)
                kind, body = site.files.get(self.path.split("?")[0],
                                            ("text/plain", None))
                self.send_response(404 if body is None else 200)
                self.send_header("Content-Type", kind)
                self.send_header("Cache-Control", "no-store")
                body = b"" if body is None else body
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        # Port 0: the system picks a free one.
        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                                       Handler)
        self.origin = "http://127.0.0.1:%d/" % self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        daemon=True)

    def url(self, path):
        return self.origin + path.lstrip("/")

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()
