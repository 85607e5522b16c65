"""Differential test: random archives made with python's own encoders
(base64, binascii), unpacked by mimeunpack, compared byte for byte with the
original data and with the lines the tool must print.

Run: python3 differential.py [path/to/mimeunpack] [--count N] [--seed S]
A failing case is kept in a directory whose path is printed.
"""

import argparse
import base64
import binascii
import os
import random
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "e2e"))

import harness as h  # noqa: E402

STANDARD = h.ALPHABET
# "=_" never occurs in base64 or quoted-printable text.
BOUNDARY = b"----=_NextPart_diff.%d"
WORDS = [b"alpha", b"beta", b"gamma", b"\xc5\xbelu\xc5\xa5ou\xc4\x8dk\xc3\xbd",
         b"k\xc5\xaf\xc5\x88", b"caf\xc3\xa9", b"x", b"", b"1234567890",
         b"\xe2\x82\xac", b"tab\there", b"a=b", b"trailing ", b"."]
NAME_BITS = [b"page", b"file name", b"\xc3\xa1\xc4\x8d", b"\xe9t\xe9", b"a b",
             b"img", b"x", b" lead", b"\xff\xfe", b"(1)", b"\xd1\x84\xd0\xb0"]


def random_data(rng):
    """Binary or text data, 0 to 300 KB, mostly small."""
    size = int(300_000 * rng.random() ** 3)
    if rng.random() < 0.1:
        size = rng.choice([0, 1, 2, 3, 4, 57, 76])
    if rng.random() < 0.5:
        return rng.randbytes(size), False
    nl = rng.choice([b"\n", b"\r\n"])
    out, length = [], 0
    while length < size:
        line = b" ".join(rng.choice(WORDS) for _ in range(rng.randrange(30)))
        out.append(line + nl)
        length += len(line) + len(nl)
    data = b"".join(out)[:size]
    return data, True


def encode_qp(rng, data, is_text, nl):
    """Quoted-printable body lines; the tool keeps every line end in the body
    except soft ones, so the body ends with a soft break unless the data
    itself ends with a line end."""
    quotetabs = rng.random() < 0.3
    body = binascii.b2a_qp(data, quotetabs=quotetabs, istext=is_text)
    if binascii.a2b_qp(body) != data:  # text cut inside a CR LF, say
        is_text = False
        body = binascii.b2a_qp(data, quotetabs=quotetabs, istext=False)
    assert binascii.a2b_qp(body) == data
    if not is_text:
        # Every CR and LF of the data is escaped: line ends are the
        # encoder's soft breaks only (CR LF when the data starts with one),
        # so they may take the archive's form.
        body = body.replace(b"\r\n", b"\n").replace(b"\n", nl)
    if not body.endswith(b"\n"):
        body += b"=" + nl
    return body


def encode_base64(rng, data, alphabet, nl):
    text = base64.b64encode(data)
    if rng.random() < 0.2:
        text = text.rstrip(b"=")  # the final group alone says how much
    text = text.translate(bytes.maketrans(STANDARD, alphabet))
    width = rng.choice([76, 76, 64, 4, 1, 100, 73])
    lines = [text[i:i + width] for i in range(0, len(text), width)]
    return b"".join(line + nl for line in lines)


def random_conf(rng):
    """A permuted alphabet and its base64.conf with lines in any order,
    comments and skipped lines; returns (alphabet, conf, echo)."""
    alphabet = STANDARD
    if rng.random() < 0.5:
        letters = list(STANDARD)
        rng.shuffle(letters)
        alphabet = bytes(letters)
    nl = rng.choice([b"\n", b"\r\n"])
    entries = [(v, alphabet[v]) for v in range(1, 64)]
    if rng.random() < 0.5:
        rng.shuffle(entries)
    lines, echo = [], []
    for value, char in entries:
        if rng.random() < 0.05:
            lines.append(b"# comment line" + nl)
        if rng.random() < 0.03:
            lines.append(b"0 %c" % char + nl)  # value 0: skipped
        sep = rng.choice([b" ", b"\t", b":"])
        lines.append(b"%d%s%c" % (value, sep, char) + nl)
        echo.append(b"Base64table [%c]  = %d\n" % (char, value))
    return alphabet, b"".join(lines), b"".join(echo) + b"Base64 nahran...\n"


def random_name(rng, index):
    dirs = [rng.choice(NAME_BITS) + b"%d" % rng.randrange(3)
            for _ in range(rng.choice([0, 0, 1, 2]))]
    leaf = rng.choice(NAME_BITS) + b" %d.bin" % index
    return b"/".join(dirs + [leaf])


def make_case(rng, seed):
    alphabet, conf, echo = random_conf(rng)
    archives, args, stdout, expected = {}, [], b"", {}
    count = rng.choice([1, 1, 1, 2, 3])
    index = 0
    table_loaded = False
    for a in range(count):
        name = "arch %d.mht" % a
        nl = rng.choice([b"\n", b"\r\n"])
        boundary = BOUNDARY % seed
        quoted = rng.random() < 0.7
        header = (b"MIME-Version: 1.0" + nl + b"Content-Type: multipart/related;"
                  b" boundary=" + (b'"' + boundary + b'"' if quoted else boundary)
                  + b"; type=\"text/html\"" + nl + nl + b"preamble" + nl + nl)
        parts = []
        lines = b""
        for _ in range(rng.choice([0, 1, 2, 3, 5, 8])):
            data, is_text = random_data(rng)
            path = random_name(rng, index)
            index += 1
            if rng.random() < 0.5:
                parts.append((path, b"base64",
                              encode_base64(rng, data, alphabet, nl)))
                lines += h.writing(path, True)
            else:
                parts.append((path, b"quoted-printable",
                              encode_qp(rng, data, is_text, nl)))
                lines += h.writing(path, False)
            expected[os.fsdecode(path)] = data
            parts_dir = os.path.dirname(os.fsdecode(path))
            while parts_dir:
                expected[parts_dir] = h.DIR
                parts_dir = os.path.dirname(parts_dir)
        archives[name] = h.archive(parts, boundary=boundary, nl=nl,
                                   header=header)
        args.append(name)
        stdout += h.progress(count - a, name)
        if parts and not table_loaded:
            stdout += echo
            table_loaded = True
        stdout += lines
    return archives, args, conf, stdout, expected


def run_case(seed, keep_dir):
    rng = random.Random(seed)
    archives, args, conf, stdout, expected = make_case(rng, seed)
    r = h.run(archives, args=args, conf=conf, keep=True)
    problems = []
    if r.status != 0:
        problems.append("status %d" % r.status)
    if r.stdout != stdout:
        at = next((i for i, (x, y) in enumerate(zip(r.stdout, stdout))
                   if x != y), min(len(r.stdout), len(stdout)))
        problems.append("stdout differs at byte %d: got %r, want %r" % (
            at, r.stdout[at:at + 80], stdout[at:at + 80]))
    made = r.created()
    for path in sorted(set(made) | set(expected)):
        if made.get(path, "missing") != expected.get(path, "unexpected"):
            got = made.get(path, "missing")
            want = expected.get(path, "unexpected")
            problems.append("%r: got %s, want %s" % (
                path, _describe(got), _describe(want)))
    if problems:
        kept = os.path.join(keep_dir, "seed-%d" % seed)
        shutil.rmtree(kept, ignore_errors=True)
        shutil.move(r.root, kept)
        return ["seed %d (kept in %s): %s" % (seed, kept, p)
                for p in problems[:5]]
    shutil.rmtree(r.root, ignore_errors=True)
    return []


def _describe(value):
    if isinstance(value, bytes):
        return "%d bytes %r..." % (len(value), value[:40])
    return repr(value)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary", nargs="?")
    parser.add_argument("--count", type=int, default=200)
    parser.add_argument("--seed", type=int, default=20240)
    parser.add_argument("--keep-dir", default=None,
                        help="where failing cases are kept (default: a "
                        "temporary directory)")
    args = parser.parse_args()
    h.exit_if_level_missing()
    if args.binary:
        h._binary = args.binary
    keep_dir = args.keep_dir or h.tempfile.mkdtemp(prefix="mimeunpack-diff-")
    failures = []
    for i in range(args.count):
        failures += run_case(args.seed + i, keep_dir)
    for line in failures:
        print(line)
    print("%d archive sets, seeds %d..%d: %s" % (
        args.count, args.seed, args.seed + args.count - 1,
        "%d problem(s)" % len(failures) if failures else "all exact"))
    if not failures and not args.keep_dir:
        shutil.rmtree(keep_dir, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
