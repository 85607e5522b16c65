"""End to end: the command line, the message header and base64.conf.

Run: python3 test_cli.py [path/to/mimeunpack]
"""

import base64
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import progress, writing  # noqa: E402

B64 = b"base64"
QP = b"quoted-printable"

NO_TABLE = b"Chyba. Tabulka rozlozeni [base64.conf] nenalezena.\n"


def one_part(path=b"a.txt", enc=QP, body=b"hello\n", **kw):
    return h.archive([(path, enc, body)], **kw)


def header(content_type_line, nl=b"\n"):
    return (b"MIME-Version: 1.0" + nl + content_type_line + nl + nl +
            b"preamble" + nl)


class CommandLine(unittest.TestCase):

    def test_no_argument_prints_message_and_never_reads_the_table(self):
        # A malformed base64.conf would make itself heard if it were read.
        for conf in (None, b"26"):
            with self.subTest(conf=conf):
                r = h.run(conf=conf)
                self.assertEqual(r.stdout, b"Chybi parametr.\n")
                self.assertEqual(r.status, 255)
                self.assertEqual(r.created(), {})

    def test_several_archives_count_down_and_load_the_table_once(self):
        r = h.run({"a.mht": one_part(b"a.txt", QP, b"one\n"),
                   "b.mht": one_part(b"d/b.bin", B64, b"QUJD\n")})
        self.assertEqual(r.stdout,
                         progress(2, "a.mht") + h.conf_echo() +
                         writing(b"a.txt", 0) + progress(1, "b.mht") +
                         writing(b"d/b.bin", 1))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {"a.txt": b"one\n", "d": h.DIR,
                                       "d/b.bin": b"ABC"})

    def test_unopenable_archive_stops_the_run_after_its_progress_line(self):
        r = h.run({"a.mht": one_part(b"a.txt"),
                   "c.mht": one_part(b"c.txt")},
                  args=["a.mht", "missing.mht", "c.mht"])
        self.assertEqual(r.stdout,
                         progress(3, "a.mht") + h.conf_echo() +
                         writing(b"a.txt", 0) + progress(2, "missing.mht") +
                         b"Chyba. Nemohu otevrit soubormissing.mht.\n")
        self.assertEqual(r.status, 254)
        self.assertEqual(r.created(), {"a.txt": b"hello\n"})

    def test_unopenable_archive_first_and_path_printed_as_given(self):
        for path in ("missing.mht", "no dir/x y.mht", "./gone.mht"):
            with self.subTest(path=path):
                r = h.run(args=[path])
                self.assertEqual(r.stdout, progress(1, path) +
                                 b"Chyba. Nemohu otevrit soubor" +
                                 os.fsencode(path) + b".\n")
                self.assertEqual(r.status, 254)
                self.assertEqual(r.created(), {})

    def test_directory_as_archive_cannot_be_read(self):
        r = h.run(files={"dir.mht": h.DIR}, args=["dir.mht"])
        self.assertEqual(r.stdout, progress(1, "dir.mht") +
                         b"Chyba. Nemohu otevrit soubordir.mht.\n")
        self.assertEqual(r.status, 254)
        self.assertEqual(r.created(), {})

    def test_same_archive_twice_is_unpacked_twice(self):
        arc = h.archive([(b"x/a.txt", QP, b"A=3DB\n"),
                         (b"x/b.bin", B64, b"QUJDRA==\n")])
        r = h.run({"a.mht": arc}, args=["a.mht", "a.mht"])
        self.assertEqual(r.stdout,
                         progress(2, "a.mht") + h.conf_echo() +
                         writing(b"x/a.txt", 0) + writing(b"x/b.bin", 1) +
                         progress(1, "a.mht") +
                         writing(b"x/a.txt", 0) + writing(b"x/b.bin", 1))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {"x": h.DIR, "x/a.txt": b"A=B\n",
                                       "x/b.bin": b"ABCD"})

    def test_archive_path_in_a_subdirectory_with_blanks(self):
        r = h.run({"in dir/my page.mht": one_part(b"out.txt")})
        self.assertEqual(r.stdout, progress(1, "in dir/my page.mht") +
                         h.conf_echo() + writing(b"out.txt", 0))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {"out.txt": b"hello\n"})

    def test_fault_in_a_later_archive_keeps_the_earlier_output(self):
        r = h.run({"a.mht": one_part(b"a.txt"), "b.mht": b"no header\n"})
        self.assertEqual(r.stdout, progress(2, "a.mht") + h.conf_echo() +
                         writing(b"a.txt", 0) + progress(1, "b.mht"))
        self.assertEqual(r.status, 253)
        self.assertEqual(r.created(), {"a.txt": b"hello\n"})


class HeaderFaults(unittest.TestCase):
    """Every header fault ends with 253 and no message, before base64.conf
    could be read (there is none here: it would be reported)."""

    CASES = {
        "empty archive": b"",
        "no line holds Content-Type":
            b"content-type: multipart/related; boundary=\"B\"\n\n--B\n",
        "Content-Type without boundary=":
            header(b"Content-Type: multipart/related; type=\"text/html\"") +
            b"--B\n",
        "boundary on the continuation line":
            header(b"Content-Type: multipart/related;\n\tboundary=\"B\"") +
            b"--B\n",
        "only the first Content-Type line counts":
            header(b"Content-Type: text/plain\nContent-Type: "
                   b"multipart/related; boundary=\"B\"") + b"--B\n",
        "empty quoted boundary":
            header(b"Content-Type: multipart/related; boundary=\"\"") +
            b"--\n",
        "empty bare boundary at the line end":
            header(b"Content-Type: multipart/related; boundary=") + b"--\n",
        "empty bare boundary before ;":
            header(b"Content-Type: multipart/related; boundary=; x=1") +
            b"--\n",
        "unclosed quote":
            header(b"Content-Type: multipart/related; boundary=\"B") +
            b"--B\n",
        "unclosed quote, CRLF":
            header(b"Content-Type: multipart/related; boundary=\"B",
                   b"\r\n") + b"--B\r\n",
    }

    def test_header_faults(self):
        for name, arc in self.CASES.items():
            with self.subTest(name):
                r = h.run({"a.mht": arc}, conf=None)
                self.assertEqual(r.stdout, progress(1, "a.mht"))
                self.assertEqual(r.status, 253)
                self.assertEqual(r.created(), {})


class Boundary(unittest.TestCase):

    def unpack(self, content_type, boundary):
        arc = (header(content_type) + b"--" + boundary + b"\n" +
               b"Content-Location: file:///C:/p.txt\n"
               b"Content-Transfer-Encoding: quoted-printable\n\n\n"
               b"body\n--" + boundary + b"--\n")
        return h.run({"a.mht": arc})

    def test_boundary_forms(self):
        cases = [
            (b'Content-Type: multipart/related; boundary="B"', b"B"),
            (b'Content-Type: multipart/related; boundary="a b;c"', b"a b;c"),
            (b'Content-Type: multipart/related; type="x"; boundary="XYZ"',
             b"XYZ"),
            (b'X: boundary="XYZ"; Content-Type: multipart/related', b"XYZ"),
            (b"Content-Type: multipart/related; boundary=tok", b"tok"),
            (b"Content-Type: multipart/related; boundary=tok;type=x", b"tok"),
            (b"Content-Type: multipart/related; boundary=tok type=x", b"tok"),
            (b"Content-Type: multipart/related; boundary=tok\ttype=x", b"tok"),
            (b"Content-Type: multipart/related; boundary==_Part_1.2", b"=_Part_1.2"),
        ]
        for line, boundary in cases:
            with self.subTest(line=line):
                r = self.unpack(line, boundary)
                self.assertEqual(r.stdout, progress(1, "a.mht") +
                                 h.conf_echo() + writing(b"p.txt", 0))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {"p.txt": b"body\n"})

    def test_no_boundary_line_after_the_header_writes_nothing(self):
        arc = header(b'Content-Type: multipart/related; boundary="B"') + \
            b"just text\n"
        r = h.run({"a.mht": arc}, conf=None)
        self.assertEqual(r.stdout, progress(1, "a.mht"))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {})


class Base64Conf(unittest.TestCase):

    def test_missing_table(self):
        # The table is needed at the first part even when it is
        # quoted-printable; nothing is created before it is loaded.
        for enc in (QP, B64):
            with self.subTest(enc=enc):
                r = h.run({"a.mht": one_part(b"d/a.txt", enc, b"QUJD\n")},
                          conf=None)
                self.assertEqual(r.stdout, progress(1, "a.mht") + NO_TABLE)
                self.assertEqual(r.status, 253)
                self.assertEqual(r.created(), {})

    def test_unreadable_table(self):
        r = h.run({"a.mht": one_part()}, conf=None,
                  files={"base64.conf": h.DIR})
        self.assertEqual(r.stdout, progress(1, "a.mht") + NO_TABLE)
        self.assertEqual(r.status, 253)
        self.assertEqual(r.created(), {})

    def test_table_never_read_without_a_part(self):
        bare = header(b'Content-Type: multipart/related; boundary="B"')
        cases = {
            "no boundary line": bare,
            "close delimiter first": bare + b"--B--\n--B\n"
                b"Content-Location: file:///C:/x.txt\n"
                b"Content-Transfer-Encoding: base64\n\n\nQUJD\n",
            "boundary line at the end": bare + b"--B\n",
        }
        for name, arc in cases.items():
            with self.subTest(name):
                r = h.run({"a.mht": arc}, conf=None)
                self.assertEqual(r.stdout, progress(1, "a.mht"))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {})

    def test_malformed_last_line(self):
        r = h.run({"a.mht": one_part()}, conf=b"1 B\n# note\n26")
        self.assertEqual(r.stdout, progress(1, "a.mht") +
                         b"Base64table [B]  = 1\n"
                         b"Chyba. Soubor [base64.conf] ma chybny format. \n"
                         b"Radek: 26; i = 3 strlen: 2\n")
        self.assertEqual(r.status, 253)
        self.assertEqual(r.created(), {})

    def test_table_lines(self):
        # (conf, echo, base64 body, written bytes). Decoded bytes come from
        # python's decoder over the RFC 2045 characters of the same values.
        rfc = h.ALPHABET
        cases = [
            ("empty table: every entry 0", b"", b"",
             b"QUJD", b"\0\0\0"),
            ("letter a = 26", b"26 a\n", b"Base64table [a]  = 26\n",
             b"aaaa", base64.b64decode(bytes([rfc[26]]) * 4)),
            ("value 0 and comment skipped", b"0 A\n# 5 B\n 7 C\n", b"",
             b"ABCD", b"\0\0\0"),
            ("300 stores 44", b"300 x\n", b"Base64table [x]  = 300\n",
             b"xxxx", base64.b64decode(bytes([rfc[44]]) * 4)),
            ("separator may be a letter", b"26ab\n",
             b"Base64table [b]  = 26\n",
             b"bbaa", base64.b64decode(bytes([rfc[26]]) * 2 + b"AA")),
            ("later line wins", b"5 Q\n7 Q\n",
             b"Base64table [Q]  = 5\nBase64table [Q]  = 7\n",
             b"QQQQ", base64.b64decode(bytes([rfc[7]]) * 4)),
            ("wraps negative", b"2147483648 q\n",
             b"Base64table [q]  = -2147483648\n", b"qqqq", b"\0\0\0"),
            ("wraps to 0: skipped", b"4294967296 q\n", b"",
             b"qqqq", b"\0\0\0"),
            ("line of digits and LF sets the NUL entry", b"26\n",
             b"Base64table [\0]  = 26\n", b"QUJD", b"\0\0\0"),
            ("CRLF: the CR separates, LF is the character", b"26\r\n",
             b"Base64table [\n]  = 26\n", b"QUJD", b"\0\0\0"),
            ("a line of more than 255 bytes counts as two",
             b"5 Q" + b"x" * 252 + b"7 R\n",
             b"Base64table [Q]  = 5\nBase64table [R]  = 7\n",
             b"QQRR", base64.b64decode(bytes([rfc[5]] * 2 + [rfc[7]] * 2))),
        ]
        for name, conf, echo, body, out in cases:
            with self.subTest(name):
                r = h.run({"a.mht": one_part(b"o.bin", B64, body + b"\n")},
                          conf=conf)
                self.assertEqual(r.stdout, progress(1, "a.mht") + echo +
                                 b"Base64 nahran...\n" + writing(b"o.bin", 1))
                self.assertEqual(r.status, 0)
                self.assertEqual(r.created(), {"o.bin": out})

    def test_nul_entry_decodes_nul_bytes_in_a_body(self):
        # NUL bytes are data; the table's NUL entry gives their value.
        r = h.run({"a.mht": one_part(b"o.bin", B64, b"\0\0\0\0\n")},
                  conf=b"26\n")
        self.assertEqual(r.created(),
                         {"o.bin": base64.b64decode(bytes([h.ALPHABET[26]]) * 4)})

    def test_permuted_alphabet(self):
        # Any alphabet works: encode with python, then map each RFC
        # character to the character the table gives its value.
        custom = h.ALPHABET[::-1]
        conf = b"".join(b"%d\t%c\n" % (v, custom[v]) for v in range(64))
        data = bytes(range(256)) * 3
        body = base64.b64encode(data).translate(
            bytes.maketrans(h.ALPHABET, custom))
        r = h.run({"a.mht": one_part(b"o.bin", B64, body + b"\n")}, conf=conf)
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {"o.bin": data})

    def test_crlf_table(self):
        r = h.run({"a.mht": one_part(b"o.bin", B64, b"QUJD\n")},
                  conf=h.base64_conf(b"\r\n"))
        self.assertEqual(r.stdout, progress(1, "a.mht") + h.conf_echo() +
                         writing(b"o.bin", 1))
        self.assertEqual(r.created(), {"o.bin": b"ABC"})

    def test_table_is_kept_for_later_archives(self):
        # The first archive overwrites base64.conf with junk; the second
        # still decodes with the table loaded at the start.
        r = h.run({"a.mht": one_part(b"base64.conf", QP, b"junk\n26",
                                     close=False),
                   "b.mht": one_part(b"b.bin", B64, b"QUJD\n")})
        self.assertEqual(r.stdout, progress(2, "a.mht") + h.conf_echo() +
                         writing(b"base64.conf", 0) + progress(1, "b.mht") +
                         writing(b"b.bin", 1))
        self.assertEqual(r.status, 0)
        self.assertEqual(r.created(), {"base64.conf": b"junk\n26",
                                       "b.bin": b"ABC"})


if __name__ == "__main__":
    h.main()
