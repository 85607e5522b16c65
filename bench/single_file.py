#!/usr/bin/env python3
"""Times --single-file beside -a on a browser's archive of one page and many
pictures: the page refers to every picture, so the single file holds them
all, base64 again, in one HTML file.

The archives are written to /dev/shm and deleted at the end. Per shape,
`-a` and `--single-file` run in turns (the order alternating each round), in
a fresh directory on /dev/shm, RUNS times each; printed per mode: the median
CPU time (user + system, the headline, since the machine may be shared) and
wall time, the runs, and the peak RSS of all its runs; then --single-file's
CPU and wall ratio to -a, the load average, and a Markdown row for
docs/performance.md. The goal: --single-file at most 2x -a, peak RSS at most
32 MiB.

usage: bench/single_file.py [--binary PATH] [--baseline PATH] [--runs N]
                            [SHAPE ...]
  SHAPE is `quick` (64 MiB, 200 pictures), `full` (1 GiB, 2,000 pictures;
  the default) or MIB:PICTURES.
  Without --binary, a Release build in build-bench/ is made and used.
  --baseline PATH runs another build (before a change) in the same rounds.
"""

import argparse
import base64
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

from modes import build_binary  # noqa: E402

SHAPES = {"quick": (64, 200), "full": (1024, 2000)}
BOUNDARY = b"----MultipartBoundary--sInGlEfIlE0123456789abcdef----"
SITE = b"https://example.org/gallery/"
TYPES = ((b"image/jpeg", b"jpg"), (b"image/png", b"png"),
         (b"image/webp", b"webp"))
# Every picture is a slice of one pool of random bytes: generating the
# archive stays quick and its memory small.
POOL_BYTES = 24 << 20
LARGE_PICTURES = 4  # of about 12 MiB each, encoded


def picture_sizes(rng, mib, pictures):
    """Decoded sizes whose encoded bodies add up to about MIB MiB: most
    between a tenth and twice the average, a few large ones."""
    budget = mib * (1 << 20) * 3 // 4  # decoded bytes, less the headers
    large = min(LARGE_PICTURES, pictures // 50)
    weights = [rng.uniform(0.1, 2.0) for _ in range(pictures)]
    for n in rng.sample(range(pictures), large):
        weights[n] = 24.0  # about 12 MiB encoded, at 0.5 MiB on average
    sizes = []
    scale = budget * 0.98 / sum(weights)
    for w in weights:
        sizes.append(max(1, int(w * scale)))
    return sizes


def write_archive(path, mib, pictures):
    rng = random.Random(20261210)
    sizes = picture_sizes(rng, mib, pictures)
    pool = rng.randbytes(POOL_BYTES)
    names = []
    for n in range(pictures):
        ctype, ext = TYPES[n % len(TYPES)]
        names.append((b"img/p%05d.%s" % (n, ext), ctype))
    with open(path, "wb") as f:
        f.write(b"From: <Saved by Blink>\r\n"
                b"Snapshot-Content-Location: " + SITE + b"\r\n"
                b"Subject: Gallery\r\n"
                b"MIME-Version: 1.0\r\n"
                b"Content-Type: multipart/related;\r\n"
                b"\ttype=\"text/html\";\r\n"
                b"\tboundary=\"" + BOUNDARY + b"\"\r\n\r\n\r\n")
        page = [b"<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                b"<title>Gallery</title></head><body>\r\n"]
        for n, (name, _) in enumerate(names):
            # Relative and absolute references, as browsers save them.
            ref = name if n % 2 else SITE + name
            page.append(b"<figure><img src=\"%s\" alt=\"picture %d\">"
                        b"<figcaption>Picture %d</figcaption></figure>\r\n"
                        % (ref, n, n))
        page.append(b"</body></html>\r\n")
        f.write(b"--" + BOUNDARY + b"\r\n"
                b"Content-Type: text/html\r\n"
                b"Content-ID: <frame-0@mhtml.blink>\r\n"
                b"Content-Transfer-Encoding: 7bit\r\n"
                b"Content-Location: " + SITE + b"\r\n\r\n")
        f.write(b"".join(page) + b"\r\n")
        for (name, ctype), size in zip(names, sizes):
            f.write(b"--" + BOUNDARY + b"\r\n"
                    b"Content-Type: " + ctype + b"\r\n"
                    b"Content-Transfer-Encoding: base64\r\n"
                    b"Content-Location: " + SITE + name + b"\r\n\r\n")
            left = size
            while left > 0:
                # Whole 76-character lines but for the last, as mailers write.
                take = min(left, 57 * 20000)
                start = rng.randrange(0, POOL_BYTES - take + 1)
                chunk = base64.encodebytes(pool[start:start + take])
                f.write(chunk.replace(b"\n", b"\r\n"))
                left -= take
            f.write(b"\r\n")
        f.write(b"--" + BOUNDARY + b"--\r\n")


def timed(command, cwd):
    """Wall seconds, CPU seconds, peak RSS in KiB and status of one run.
    /usr/bin/time reads the child's resource usage: a child started from
    this process directly would count this process's pages in its peak."""
    stats = os.path.join(cwd, "..", "time.txt")
    start = time.perf_counter()
    run = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", stats] +
                         command, cwd=cwd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    with open(stats) as f:
        user, system, rss = f.read().split()[-3:]
    return wall, float(user) + float(system), int(rss), run.returncode


def output_bytes(cwd):
    return sum(os.path.getsize(os.path.join(d, f))
               for d, _, files in os.walk(cwd) for f in files)


def measure(binaries, archive, runs, work):
    """binaries: (label, path) pairs; each runs -a and --single-file."""
    subprocess.run(["cat", archive], check=True, stdout=subprocess.DEVNULL)
    modes = [(label + mode, [path, mode])
             for label, path in binaries
             for mode in ("-a", "--single-file")]
    results = {name: [] for name, _ in modes}
    written = {}
    for round_ in range(runs):
        turn = round_ % len(modes)
        order = modes[turn:] + modes[:turn]
        if round_ % 2:
            order.reverse()
        for name, command in order:
            cwd = os.path.join(work, "run")
            os.mkdir(cwd)
            got = timed(command + ["-q", archive], cwd)
            written[name] = output_bytes(cwd)
            shutil.rmtree(cwd)
            if got[3]:
                print("  %s ended with status %d" % (name, got[3]))
            results[name].append(got)
    return results, written


def report(label, archive, binaries, results, written):
    size = os.path.getsize(archive)
    print("\n%s: %s (%.1f MiB)" % (label, os.path.basename(archive),
                                   size / (1 << 20)))
    width = max(len(name) for name in results)
    print("  %-*s %8s %8s %9s %9s  %s" % (
        width, "mode", "CPU s", "wall s", "peak RSS", "written",
        "CPU runs (s)"))
    cpu = {}
    wall = {}
    rss = {}
    for name, runs in results.items():
        cpu[name] = statistics.median(r[1] for r in runs)
        wall[name] = statistics.median(r[0] for r in runs)
        rss[name] = max(r[2] for r in runs) / 1024
        print("  %-*s %8.3f %8.3f %5.1f MiB %5.0f MiB  %s" % (
            width, name, cpu[name], wall[name], rss[name],
            written[name] / (1 << 20),
            " ".join("%.3f" % r[1] for r in runs)))
    rows = []
    for tag, _ in binaries:
        a, single = tag + "-a", tag + "--single-file"
        ratio = cpu[single] / cpu[a]
        wall_ratio = wall[single] / wall[a]
        print("  %s--single-file / -a: CPU %.2f, wall %.2f (goal: at most "
              "2.00); peak RSS %.1f MiB (goal: at most 32)" %
              (tag, ratio, wall_ratio, rss[single]))
        rows.append(
            "| %.0f MiB, %s%s | %.3f s / %.3f s | %.3f s / %.3f s "
            "| %.2f / %.2f | %.1f / %.1f MiB |" % (
                size / (1 << 20), label, " (%s)" % tag.strip(" :")
                if tag else "", cpu[a], wall[a], cpu[single], wall[single],
                ratio, wall_ratio, rss[a], rss[single]))
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary")
    parser.add_argument("--baseline", help="another build (before a change), "
                        "timed in the same rounds")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("shapes", nargs="*", default=["full"])
    opts = parser.parse_intermixed_args()
    if not os.path.exists("/usr/bin/time"):
        sys.exit("bench/single_file.py needs /usr/bin/time "
                 "(Debian package 'time')")
    chosen = []
    for item in opts.shapes:
        if item in SHAPES:
            chosen.append(SHAPES[item])
        else:
            mib, _, pictures = item.partition(":")
            chosen.append((int(mib), int(pictures)))
    binary = os.path.abspath(opts.binary) if opts.binary else build_binary()
    binaries = [("", binary)]
    if opts.baseline:
        binaries.append(("baseline: ", os.path.abspath(opts.baseline)))
    work = tempfile.mkdtemp(prefix="mimeunpack-single.", dir="/dev/shm")
    rows = []
    load = os.getloadavg()
    try:
        for mib, pictures in chosen:
            free = shutil.disk_usage(work).free
            # The archive, -a's files and the single file at once.
            if free < mib * (1 << 20) * 3:
                sys.exit("bench/single_file.py: %d MiB free on /dev/shm, "
                         "%d MiB needed" % (free >> 20, mib * 3))
            archive = os.path.join(work, "gallery-%d.mht" % mib)
            write_archive(archive, mib, pictures)
            rows += report("%d pictures" % pictures, archive, binaries,
                           *measure(binaries, archive, opts.runs, work))
            os.remove(archive)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    end_load = os.getloadavg()
    print("\nload average (1 min) %.2f at the start, %.2f at the end; "
          "%d cores" % (load[0], end_load[0], os.cpu_count()))
    print("\n| Archive | -a CPU / wall | --single-file CPU / wall | ratio "
          "CPU / wall | peak RSS -a / --single-file |\n|---|---|---|---|---|")
    for row in rows:
        print(row)


if __name__ == "__main__":
    main()
