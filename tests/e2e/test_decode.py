"""End to end: quoted-printable and base64 bodies decoded into files.

Expected bytes come from RFC 2045 examples or from python's own encoders
(base64, binascii) run over random data.

Run: python3 test_decode.py [path/to/mimeunpack]
"""

import base64
import binascii
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

import harness as h  # noqa: E402
from harness import progress, writing  # noqa: E402

B64 = b"base64"
QP = b"quoted-printable"

SIZES = (0, 1, 2, 3, 4, 5, 56, 57, 58, 75, 76, 77, 190, 191, 192, 254, 255,
         256, 509, 510, 511, 1000, 4095, 4096, 4097, 30000, 65536, 102400)


def decode_one(test, enc, body, close=True, nl=b"\n"):
    """Unpacks one part and returns the bytes of its file."""
    r = h.run({"a.mht": h.archive([(b"out.bin", enc, body)], close=close,
                                  nl=nl)})
    test.assertEqual(r.stdout, progress(1, "a.mht") + h.conf_echo() +
                     writing(b"out.bin", enc == B64))
    test.assertEqual(r.status, 0)
    created = r.created()
    test.assertEqual(list(created), ["out.bin"])
    return created["out.bin"]


def decode_many(test, enc, bodies, nl=b"\n"):
    """Unpacks one archive holding a part per body; returns their files in
    order. One run keeps the many-sizes tests fast."""
    names = [b"d/%04d.bin" % i for i in range(len(bodies))]
    r = h.run({"a.mht": h.archive(list(zip(names, [enc] * len(bodies),
                                                bodies)), nl=nl)})
    test.assertEqual(r.stdout, progress(1, "a.mht") + h.conf_echo() +
                     b"".join(writing(n, enc == B64) for n in names))
    test.assertEqual(r.status, 0)
    test.assertEqual(len(r.created()), len(names) + 1)
    return [r.tree[n.decode()] for n in names]


def wrap(text, width, nl):
    return b"".join(text[i:i + width] + nl
                    for i in range(0, len(text), width))


class QuotedPrintable(unittest.TestCase):

    def test_cases(self):
        # body (with the line end before the boundary line) -> file
        cases = [
            (b"plain text, no escapes\n", b"plain text, no escapes\n"),
            (b"=3D\n", b"=\n"),
            (b"=3d\n", b"=\n"),
            (b"=c3=A9=aF=Af\n", b"\xc3\xa9\xaf\xaf\n"),
            (b"=00=FF=0D=0A\n", b"\x00\xff\r\n\n"),
            (b"soft=\nbreak\n", b"softbreak\n"),
            (b"soft=\r\nbreak\r\n", b"softbreak\r\n"),
            (b"lone=\rcr\n", b"lonecr\n"),
            (b"keep=\n\nthe empty line\n", b"keep\nthe empty line\n"),
            (b"keep=\r\n\r\nit\r\n", b"keep\r\nit\r\n"),
            (b"cr=\r\r\nx\n", b"cr\r\nx\n"),
            (b"=a\n", b"=a\n"),
            (b"=G1\n", b"=G1\n"),
            (b"==3D\n", b"==\n"),
            (b"==41\n", b"=A\n"),
            (b"a= b\n", b"a= b\n"),
            (b"x=4\n", b"x=4\n"),
            # Word: a soft break right before an attribute's "=".
            (b'<img o:spid=\r\n="_x0000_i1025">\r\n',
             b'<img o:spid="_x0000_i1025">\r\n'),
            (b"ends soft=\n", b"ends soft"),
            (b"trailing blanks \t \n", b"trailing blanks \t \n"),
            (b"\x80\xfe\x00\r bytes\n", b"\x80\xfe\x00\r bytes\n"),
            (b"two\nlines\n\n", b"two\nlines\n\n"),
        ]
        for body, out in cases:
            with self.subTest(body=body):
                self.assertEqual(decode_one(self, QP, body), out)

    def test_end_of_archive_inside_an_escape(self):
        # Nothing is read past the end of the body; an "=" that starts
        # no escape there is data.
        cases = [(b"x=4", b"x=4"), (b"x=", b"x="), (b"x=3D", b"x="),
                 (b"x=\r", b"x"), (b"x=3", b"x=3"), (b"=", b"=")]
        for body, out in cases:
            with self.subTest(body=body):
                self.assertEqual(decode_one(self, QP, body, close=False), out)


class Base64(unittest.TestCase):

    def test_cases(self):
        cases = [
            (b"QUJD\n", b"ABC"),
            (b"QQ==\n", b"A"),
            (b"QUI=\n", b"AB"),
            (b"QUJDRA\n", b"ABCD"),
            (b"QUJDRA==\n", b"ABCD"),
            (b"QUJDREU\n", b"ABCDE"),
            (b"QUJDREU=\n", b"ABCDE"),
            (b"QUJDR\n", b"ABC"),  # one character left: no whole byte
            (b"Q\n", b""),
            (b"QU\nJD\n", b"ABC"),
            (b"QU\r\nJD\r\n\r\nRA==\r\n", b"ABCD"),
            (b"\nQUJD\n\n", b"ABC"),
            (b"+/+/\n", b"\xfb\xff\xbf"),
            (b"AAAA\n", b"\0\0\0"),
            (base64.encodebytes(bytes(57)), bytes(57)),
        ]
        for body, out in cases:
            with self.subTest(body=body):
                self.assertEqual(decode_one(self, B64, body), out)

    def test_76_characters_write_57_bytes(self):
        body = b"QUJD" * 19 + b"\n"
        self.assertEqual(decode_one(self, B64, body), b"ABC" * 19)

    def test_cut_off_without_line_end(self):
        for body, out in ((b"QUJD\nQQ", b"ABCA"), (b"QUJD\nQQ==", b"ABCA"),
                          (b"QUJDRA", b"ABCD")):
            with self.subTest(body=body):
                self.assertEqual(decode_one(self, B64, body, close=False),
                                 out)


class IndependentEncoder(unittest.TestCase):
    """Random data of many sizes encoded by python; the files must give the
    data back byte for byte."""

    @classmethod
    def setUpClass(cls):
        rng = random.Random(20260515)
        cls.binary = [rng.randbytes(n) for n in SIZES]
        alphabet = (b"abcdefghijklmnopqrstuvwxyz ABCDEFGHIJ 0123456789"
                    b" .,;:!?-_=()<>\"'\t\n\n" + "čřžáé€".encode())
        cls.text = [bytes(rng.choice(alphabet) for _ in range(n))
                    for n in SIZES]

    def check_base64(self, encode, nl):
        bodies = [encode(d) for d in self.binary]
        if nl != b"\n":
            bodies = [b.replace(b"\n", nl) for b in bodies]
        files = decode_many(self, B64, bodies, nl=nl)
        for size, data, got in zip(SIZES, self.binary, files):
            self.assertEqual(got, data, "size %d" % size)

    def test_base64_encodebytes(self):
        for nl in (b"\n", b"\r\n"):
            with self.subTest(nl=nl):
                self.check_base64(base64.encodebytes, nl)

    def test_base64_wrapped_at_other_widths(self):
        for width in (4, 64, 254, 255, 256, 509, 1000):
            with self.subTest(width=width):
                self.check_base64(
                    lambda d: wrap(base64.b64encode(d), width, b"\n"), b"\n")

    def test_base64_one_line(self):
        self.check_base64(lambda d: base64.b64encode(d) + b"\n", b"\n")

    def test_base64_without_padding(self):
        self.check_base64(
            lambda d: wrap(base64.b64encode(d).rstrip(b"="), 76, b"\n"),
            b"\n")

    def check_qp(self, datas, istext, nl):
        # b2a_qp wraps with "=\n" soft breaks. The body ends with a line
        # end of its own before the boundary line, and the file keeps it:
        # quoted-printable line ends are data.
        bodies = [binascii.b2a_qp(d, istext=istext) + b"\n" for d in datas]
        if nl != b"\n":
            bodies = [b.replace(b"\n", nl) for b in bodies]
            if istext:  # the text's own line ends are raw in the body
                datas = [d.replace(b"\n", nl) for d in datas]
        files = decode_many(self, QP, bodies, nl=nl)
        for size, data, got in zip(SIZES, datas, files):
            self.assertEqual(got, data + nl, "size %d" % size)

    def test_quoted_printable_binary(self):
        for nl in (b"\n", b"\r\n"):
            with self.subTest(nl=nl):
                self.check_qp(self.binary, False, nl)

    def test_quoted_printable_text(self):
        for nl in (b"\n", b"\r\n"):
            with self.subTest(nl=nl):
                self.check_qp(self.text, True, nl)


if __name__ == "__main__":
    h.main()
