#!/usr/bin/env python3
"""The cost of writing parts: many tiny parts, and parts deep in directories.

Shapes (each archive is generated once into a scratch directory on tmpfs):
  tiny     100,000 parts of a few bytes in 100 directories
  deep-N   parts N levels deep, each part in a directory of its own; the
           archive's size is about the same for every N (fewer parts the
           deeper they are), so the cost should not depend on N
  grow-K   30 parts at K times the depth of grow-1 (112 levels): the archive
           grows K times, and so should the cost

Each given binary runs ROUNDS times per shape, the binaries alternating,
in a fresh output directory; the median user+system CPU time and wall time
are printed, with the ratio to the first binary.

usage: writes.py [--rounds N] [--shapes tiny,deep-450,...] BINARY...
"""

import argparse
import base64
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BOUNDARY = b"----=_NextPart_bench.writes"
ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
# Parts times depth of the deep shapes: the archive's size stays put.
DEEP_BUDGET = 54_000


def conf():
    return b"".join(b"%d %c\n" % (n, ALPHABET[n]) for n in range(1, 64))


def part(path, body):
    return (b"--" + BOUNDARY + b"\n"
            b"Content-Location: file:///C:/" + path + b"\n"
            b"Content-Transfer-Encoding: base64\n"
            b"Content-Type: application/octet-stream\n\n" +
            base64.b64encode(body) + b"\n")


def archive(parts):
    head = (b"MIME-Version: 1.0\n"
            b'Content-Type: multipart/related; boundary="' + BOUNDARY +
            b'"\n\n')
    return head + b"".join(part(p, b) for p, b in parts) + \
        b"--" + BOUNDARY + b"--\n"


def tiny():
    return archive((b"p%d/%d" % (i % 100, i), b"%d" % i)
                   for i in range(100_000))


def deep(depth, count):
    # Each part in a directory of its own below a shared trunk: reaching it
    # from the root means walking the whole depth again.
    trunk = b"d/" * (depth - 1)
    return archive((trunk + b"%d/f" % i, b"x") for i in range(count))


def shape_archive(name):
    if name == "tiny":
        return tiny()
    if name.startswith("deep-"):
        depth = int(name[5:])
        return deep(depth, DEEP_BUDGET // depth)
    if name.startswith("grow-"):
        return deep(112 * int(name[5:]), 30)
    raise SystemExit("writes.py: no shape " + name)


def run_once(binary, archive_path, work):
    out = tempfile.mkdtemp(dir=work)
    shutil.copy(os.path.join(work, "base64.conf"), out)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run([binary, archive_path], cwd=out,
                          stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    # Deeper than shutil.rmtree can recurse.
    subprocess.run(["rm", "-rf", out], check=True)
    if done.returncode != 0:
        raise SystemExit("%s failed with %d" % (binary, done.returncode))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime -
                                                 before.ru_stime)
    return cpu, wall


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--shapes",
                        default="tiny,deep-450,deep-1800,grow-1,grow-4,"
                        "grow-16")
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    args.binaries = [os.path.abspath(b) for b in args.binaries]
    work = tempfile.mkdtemp(prefix="mimeunpack-writes.", dir="/dev/shm")
    try:
        with open(os.path.join(work, "base64.conf"), "wb") as f:
            f.write(conf())
        print("%-10s %-28s %10s %10s %7s" %
              ("shape", "binary", "cpu s", "wall s", "ratio"))
        for name in args.shapes.split(","):
            archive_path = os.path.join(work, name + ".mht")
            with open(archive_path, "wb") as f:
                f.write(shape_archive(name))
            cpu = {b: [] for b in args.binaries}
            wall = {b: [] for b in args.binaries}
            for _ in range(args.rounds):
                for b in args.binaries:
                    c, w = run_once(b, archive_path, work)
                    cpu[b].append(c)
                    wall[b].append(w)
            first = statistics.median(cpu[args.binaries[0]])
            for b in args.binaries:
                c = statistics.median(cpu[b])
                print("%-10s %-28s %10.3f %10.3f %7.2f" %
                      (name, b[-28:], c, statistics.median(wall[b]),
                       c / first if first else 0.0))
            sys.stdout.flush()
            os.unlink(archive_path)
    finally:
        subprocess.run(["rm", "-rf", work], check=True)


if __name__ == "__main__":
    main()
