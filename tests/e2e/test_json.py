"""End to end: --json prints one record per archive and per part, each valid
against docs/manifest.schema.json (checked by the small validator below),
with sizes and SHA-256 digests that Python's own decoding agrees with.

Run: python3 test_json.py [path/to/mimeunpack]
"""

import base64
import email
import hashlib
import json
import os
import quopri
import re
import sys
from email import policy
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402

SCHEMA_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                           "..", "..", "docs", "manifest.schema.json")
with open(SCHEMA_PATH, encoding="utf-8") as schema_file:
    SCHEMA = json.load(schema_file)

SMTP = policy.compat32.clone(linesep="\r\n", max_line_length=0)
TYPES = {"object": dict, "string": str, "integer": int}


def schema_errors(value, schema, where="$"):
    """The ways `value` breaks `schema`, for the keywords the schema uses."""
    errors = []
    if "oneOf" in schema:
        fits = [s for s in schema["oneOf"] if not schema_errors(value, s)]
        if len(fits) != 1:
            errors.append("%s: fits %d of oneOf" % (where, len(fits)))
    kind = schema.get("type")
    if kind and (not isinstance(value, TYPES[kind]) or
                 (kind == "integer" and isinstance(value, bool))):
        return errors + ["%s: not %s" % (where, kind)]
    if "const" in schema and value != schema["const"]:
        errors.append("%s: not %r" % (where, schema["const"]))
    if "enum" in schema and value not in schema["enum"]:
        errors.append("%s: %r not in enum" % (where, value))
    if "minimum" in schema and value < schema["minimum"]:
        errors.append("%s: below minimum" % where)
    if "pattern" in schema and not re.search(schema["pattern"], value):
        errors.append("%s: %r does not match" % (where, value))
    if isinstance(value, dict):
        properties = schema.get("properties", {})
        for key in schema.get("required", []):
            if key not in value:
                errors.append("%s: %s missing" % (where, key))
        for key, item in value.items():
            if key in properties:
                errors += schema_errors(item, properties[key],
                                        where + "." + key)
            elif schema.get("additionalProperties") is False:
                errors.append("%s: unknown key %s" % (where, key))
    return errors


def text_of(record, key):
    """A text as bytes, from its key or from its base64 sibling."""
    if key + "_base64" in record:
        return base64.b64decode(record[key + "_base64"])
    return record[key].encode() if key in record else None


class Records:
    """Every stdout line parsed and checked against the schema."""

    def __init__(self, test, stdout):
        test.assertTrue(stdout.endswith(b"\n"), stdout)
        self.lines = [json.loads(line) for line in stdout.splitlines()]
        for line in self.lines:
            test.assertEqual(schema_errors(line, SCHEMA), [], line)
        self.archives = [r for r in self.lines if r["record"] == "archive"]
        self.parts = [r for r in self.lines if r["record"] == "part"]


def digest(data):
    return {"size": len(data), "sha256": hashlib.sha256(data).hexdigest()}


def page_archive():
    """A browser-like page: HTML (quoted-printable), a picture (base64) and
    CSS written as it stands, under a header with Subject and Date."""
    message = MIMEMultipart("related", type="text/html")
    message["Subject"] = "=?utf-8?q?Zpr=C3=A1vy_dne?="
    message["Date"] = "Thu, 10 Dec 2026 03:00:00 +0000"
    message["Snapshot-Content-Location"] = "https://news.example/"
    html = MIMEBase("text", "html", charset="utf-8")
    html.set_payload(quopri.encodestring(
        ('<p>\u017dlu\u0165ou\u010dk\u00fd k\u016f\u0148</p>'
         '<img src="https://news.example/logo.png">\n' * 20).encode()))
    html["Content-Transfer-Encoding"] = "quoted-printable"
    html["Content-Location"] = "https://news.example/"
    message.attach(html)
    logo = MIMEBase("image", "png")
    logo.set_payload(base64.encodebytes(bytes(range(256)) * 3))
    logo["Content-Transfer-Encoding"] = "base64"
    logo["Content-Location"] = "https://news.example/logo.png"
    logo["Content-ID"] = "<logo@news>"
    message.attach(logo)
    css = MIMEText("p { color: red }\n", "css", "us-ascii")
    del css["Content-Transfer-Encoding"]
    css["Content-Transfer-Encoding"] = "8bit"
    css["Content-Location"] = "https://news.example/s.css"
    message.attach(css)
    return message.as_bytes(policy=SMTP)


def decoded_parts(data):
    return [p.get_payload(decode=True)
            for p in email.message_from_bytes(data).walk()
            if not p.is_multipart()]


class AnyLayout(unittest.TestCase):

    def test_listing_describes_the_archive_and_every_part(self):
        data = page_archive()
        r = h.run({"news.mht": data}, args=["-a", "-l", "--json", "news.mht"],
                  conf=None)
        self.assertEqual(r.status, 0)
        records = Records(self, r.stdout)
        self.assertEqual(records.archives, [{
            "record": "archive", "path": "news.mht", "layout": "multipart",
            "subject": "Zpr\u00e1vy dne",
            "date": "Thu, 10 Dec 2026 03:00:00 +0000",
            "snapshot_content_location": "https://news.example/",
            "main_page": "news.example/index.html"}])
        self.assertEqual(r.created(), {})
        expected = decoded_parts(data)
        self.assertEqual(len(records.parts), len(expected))
        for index, (part, data_) in enumerate(zip(records.parts, expected)):
            self.assertEqual(part["index"], index)
            self.assertEqual({k: part[k] for k in ("size", "sha256")},
                             digest(data_))
        logo = records.parts[1]
        self.assertEqual(
            {k: logo[k] for k in ("location", "content_id", "content_type",
                                  "transfer_encoding", "decoded_as", "path")},
            {"location": "https://news.example/logo.png",
             "content_id": "logo@news", "content_type": "image/png",
             "transfer_encoding": "base64", "decoded_as": "base64",
             "path": "news.example/logo.png"})
        self.assertEqual(records.parts[0]["charset"], "utf-8")
        self.assertEqual(records.parts[2]["decoded_as"], "none")

    def test_unpacking_prints_only_records_with_the_paths_written(self):
        data = page_archive()
        for args, prefix in ((["-a", "--json"], ""),
                             (["-a", "--json", "-C", "out", "-d"],
                              "out/news/")):
            with self.subTest(args=args):
                r = h.run({"news.mht": data}, args=args + ["news.mht"],
                          conf=None, files={"out": h.DIR} if "-C" in args
                          else None)
                self.assertEqual(r.status, 0)
                records = Records(self, r.stdout)
                self.assertEqual(records.archives[0]["main_page"],
                                 prefix + "news.example/index.html")
                created = r.created()
                for part in records.parts:
                    self.assertTrue(part["path"].startswith(prefix))
                    written = created[part["path"]]
                    self.assertEqual(
                        {k: part[k] for k in ("size", "sha256")},
                        digest(written))

    def test_offline_hashes_the_rewritten_pages(self):
        data = page_archive()
        listed = Records(self, h.run({"news.mht": data},
                                     args=["--offline", "-l", "--json",
                                           "news.mht"], conf=None).stdout)
        r = h.run({"news.mht": data}, args=["--offline", "--json", "news.mht"],
                  conf=None)
        self.assertEqual(r.status, 0)
        written = Records(self, r.stdout)
        self.assertEqual(listed.parts, written.parts)
        created = r.created()
        page = created["news.example/index.html"]
        self.assertIn(b'<img src="logo.png">', page)
        self.assertEqual(written.parts[0]["sha256"],
                         hashlib.sha256(page).hexdigest())


class DefaultLayout(unittest.TestCase):
    BODY = bytes(range(256)) * 2

    def office(self):
        return h.archive([
            (b"dir/p\xe9.bin", b"base64",
             base64.encodebytes(self.BODY)),
            (b"a.txt", b"quoted-printable", b"=C5=BEluty=\n k\xfa=3D\n"),
            (b"../up.txt", b"quoted-printable", b"x\n"),
        ])

    def test_listing_fills_what_the_layout_knows(self):
        r = h.run({"o.mht": self.office()}, args=["-l", "--json", "o.mht"])
        self.assertEqual(r.status, 0)
        records = Records(self, r.stdout)
        self.assertEqual(records.archives,
                         [{"record": "archive", "path": "o.mht",
                           "layout": "office"}])
        first, second, third = records.parts
        # A name that is not UTF-8 comes back byte for byte from base64.
        self.assertEqual(text_of(first, "path"), b"dir/p\xe9.bin")
        self.assertEqual(text_of(first, "location"), b"dir/p\xe9.bin")
        self.assertNotIn("path", first)
        self.assertEqual({k: first[k] for k in ("size", "sha256")},
                         digest(self.BODY))
        self.assertEqual(first["decoded_as"], "base64")
        self.assertEqual({k: second[k] for k in ("size", "sha256")},
                         digest(quopri.decodestring(b"=C5=BEluty=\n k\xfa=3D\n")))
        self.assertEqual(third["refused"], "unsafe_path")
        self.assertNotIn("refused", second)

    def test_unpacking_matches_the_files(self):
        archive = h.archive(self.office_parts()[:2])
        r = h.run({"o.mht": archive}, args=["--json", "o.mht"])
        self.assertEqual(r.status, 0)
        records = Records(self, r.stdout)
        created = r.created()
        self.assertEqual(len(records.parts), 2)
        for part in records.parts:
            path = os.fsdecode(text_of(part, "path"))
            self.assertEqual({k: part[k] for k in ("size", "sha256")},
                             digest(created[path]))

    def office_parts(self):
        return [(b"dir/p\xe9.bin", b"base64", base64.encodebytes(self.BODY)),
                (b"a.txt", b"quoted-printable", b"=C5=BEluty=\n k\xfa=3D\n")]

    def test_without_json_nothing_changes(self):
        archive = h.archive(self.office_parts())
        plain = h.run({"o.mht": archive}, args=["-l", "o.mht"])
        self.assertTrue(plain.stdout.startswith(h.progress(1, "o.mht")))
        self.assertNotIn(b"{", plain.stdout)


if __name__ == "__main__":
    h.main()
