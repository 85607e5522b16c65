#!/usr/bin/env python3
"""How the cost of hostile archives grows with their size.

Each family below is a generator of archives at scale n, 4n and 16n; each
archive is unpacked in the mode the family names, in a fresh directory on
/dev/shm, and the CPU time (user + system), wall time and peak RSS of the
process are taken (median of --runs). Printed per step: the growth of CPU
time and of the archive's size, and whether the cost stays within 1.5x of
linear (CPU growth at most 1.5 times the size growth). A run that outlasts
--timeout is killed and shown as "timeout", and the family's larger scales
are skipped. Needs /usr/bin/time (Debian package `time`). The FIFO family has no size: it gives each mode's time to end
on a FIFO that no process writes.

usage: bench/growth.py BINARY [--scale K] [--runs N] [--timeout S] [FAMILY...]
  --scale K multiplies every family's n (default 1: a few minutes at most,
  on a binary with none of these costs fixed); FAMILY names pick families.
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

RFC_ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
CONF = b"".join(b"%d %c\n" % (i, c) for i, c in enumerate(RFC_ALPHABET) if i)


def office(parts):
    """An archive in the office layout: (path, encoding, body) per part."""
    out = [b"MIME-Version: 1.0\r\nContent-Type: multipart/related; "
           b"boundary=\"B\"\r\n\r\n"]
    for path, encoding, body in parts:
        out.append(b"--B\r\nContent-Location: file:///C:/" + path + b"\r\n"
                   b"Content-Transfer-Encoding: " + encoding + b"\r\n"
                   b"Content-Type: application/octet-stream\r\n\r\n" + body +
                   b"\r\n")
    out.append(b"--B--\r\n")
    return b"".join(out)


def mime(boundary, parts, header=b""):
    """A MIME multipart/related archive: (headers, body) per part."""
    out = [b"MIME-Version: 1.0\r\n" + header +
           b"Content-Type: multipart/related;\r\n\tboundary=\"" + boundary +
           b"\"\r\n\r\n"]
    for headers, body in parts:
        out.append(b"--" + boundary + b"\r\n" + headers + b"\r\n" + body +
                   b"\r\n")
    out.append(b"--" + boundary + b"--\r\n")
    return b"".join(out)


def html(location):
    return (b"Content-Type: text/html\r\nContent-Location: " + location +
            b"\r\nContent-Transfer-Encoding: 8bit\r\n")


# Each family: (name, mode's arguments, n, generator of the archive at a
# scale). Sizes at n are chosen so that a fixed binary takes tens of
# milliseconds, well above the cost of starting a process.

def deep_directories(k):
    """30 parts, each in its own directory at depth 112k (30 at 1,792 is the
    16n archive; PATH_MAX bounds the depth)."""
    depth = 112 * k
    return office([(b"d/" * (depth - 1) + b"p%02d/f.txt" % i,
                    b"quoted-printable", b"x") for i in range(30)])


def deep_same_size(k):
    """480/n parts at depth 112n: the archive keeps its size while the
    directories deepen (4n is 120 parts at depth 448, 16n 30 at 1,792)."""
    depth = 112 * k
    return office([(b"d/" * (depth - 1) + b"p%03d/f.txt" % i,
                    b"quoted-printable", b"x") for i in range(480 // k)])


def boundary_look_alikes(k):
    """One 7bit body of n x 256 KiB holding "--b" on every 4th byte."""
    line = b"x--b" * 19 + b"\r\n"
    body = line * (256 * 1024 * k // len(line))
    return mime(b"b", [(html(b"https://h/a.html"), b"<p>"),
                       (b"Content-Type: text/plain\r\n"
                        b"Content-Location: https://h/b.txt\r\n", body)])


def nested(levels, body_headers, body):
    """A page, then a part nested in `levels` multiparts, boundary b00 the
    outermost."""
    names = [b"b%02d" % i for i in range(levels)]
    headers = body_headers
    for name in reversed(names[1:]):
        body = (b"--" + name + b"\r\n" + headers + b"\r\n" + body +
                b"\r\n--" + name + b"--\r\n")
        headers = (b"Content-Type: multipart/mixed; boundary=\"" + name +
                   b"\"\r\n")
    return mime(names[0], [(html(b"https://h/a.html"), b"<p>"),
                           (headers, body)])


TEXT_PART = b"Content-Type: text/plain\r\nContent-Location: https://h/t.txt\r\n"


def nested_look_alikes(k):
    """32 nested multiparts; the innermost body, n x 128 KiB, holds look-alikes
    of every enclosing boundary."""
    line = b"".join(b"x--b%02d " % i for i in range(32)) + b"\r\n"
    return nested(32, TEXT_PART, line * (128 * 1024 * k // len(line)))


def nesting_depth(k):
    """4n nested multiparts around one 8 MiB text body: the archive hardly
    grows, so neither should the cost."""
    line = b"plain text of a part nested deep in multiparts, no look-alikes\r\n"
    return nested(4 * k, TEXT_PART, line * (8 * 1024 * 1024 // len(line)))


def plain_body(k):
    """The baseline of the look-alike families' MB/s: one 7bit body of
    n x 4 MiB of text lines without a dash."""
    line = b"xy" * 38 + b"\r\n"
    body = line * (4 * 1024 * 1024 * k // len(line))
    return mime(b"b", [(html(b"https://h/a.html"), b"<p>"),
                       (TEXT_PART, body)])


def long_boundary(k):
    """100 parts under a boundary of n x 16 KiB."""
    boundary = b"q" * (16 * 1024 * k)
    return mime(boundary, [(html(b"https://h/p%d.html" % i), b"<p>%d" % i)
                           for i in range(100)])


def many_header_fields(k):
    """A part whose header holds n x 12,500 fields (n x 0.5 MB)."""
    fields = b"".join(b"X-Field-%d: value %d\r\n" % (i, i)
                      for i in range(12500 * k))
    return mime(b"b", [(html(b"https://h/a.html") + fields, b"<p>")])


def relative_references(k):
    """A page whose <base href> is n x 12.8 KB long, holding n x 160
    relative references (20,000 under 1.6 MB is 125 times the 16n archive);
    the parts' own locations are short."""
    base = b"https://h/" + b"s/" * (6400 * k)
    refs = b"".join(b"<img src=\"r%d.png\">\n" % i for i in range(160 * k))
    parts = [(html(b"https://h/index.html"),
              b"<base href=\"" + base + b"\">\n" + refs)]
    parts += [(b"Content-Type: image/png\r\nContent-Location: https://h/"
               b"r%d.png\r\nContent-Transfer-Encoding: base64\r\n" % i,
               b"iVBORw0K") for i in range(4)]
    return mime(b"b", parts)


def one_line_base64(k):
    """One base64 body of n x 4 MiB with no line end, in the office layout
    (read by both modes)."""
    body = (RFC_ALPHABET * (4 * 1024 * 1024 * k // 64 + 1))[:4 * 1024 * 1024 * k]
    return office([(b"page_files/blob.bin", b"base64", body)])


FAMILIES = [
    ("deep directories", [], deep_directories),
    ("deep directories", ["-a"], deep_directories),
    ("deep directories, same size", [], deep_same_size),
    ("plain body (baseline)", ["-a"], plain_body),
    ("--boundary look-alikes in a body", ["-a"], boundary_look_alikes),
    ("nested multiparts with look-alikes", ["-a"], nested_look_alikes),
    ("nesting depth 4n around 8 MiB", ["-a"], nesting_depth),
    ("long boundary, 100 parts", ["-a"], long_boundary),
    ("many header fields", ["-a"], many_header_fields),
    ("relative references, long location", ["--offline"],
     relative_references),
    ("one-line base64 body", [], one_line_base64),
    ("one-line base64 body", ["-a"], one_line_base64),
]
FIFO_MODES = [[], ["-l"], ["-a"], ["-a", "-l"], ["--offline"]]


def remove(path):
    """rm -rf: deeper trees than Python's recursion allows."""
    subprocess.run(["rm", "-rf", "--", path], check=True)


def run_once(binary, args, archive, work, timeout):
    """(CPU seconds, wall seconds, peak RSS in MiB, status), or None when the
    run outlasted the timeout."""
    cwd = tempfile.mkdtemp(dir=work)
    with open(os.path.join(cwd, "base64.conf"), "wb") as f:
        f.write(CONF)
    # /usr/bin/time forks the tool from a small process: a child forked
    # from Python would count Python's memory in its peak RSS.
    stats = cwd + ".rss"
    start = time.perf_counter()
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", stats,
                             binary, "-q"] + args + [archive], cwd=cwd,
                            stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL,
                            start_new_session=True)
    killed = []

    def kill():
        killed.append(True)
        os.killpg(proc.pid, signal.SIGKILL)
    timer = threading.Timer(timeout, kill)
    timer.start()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    timer.cancel()
    proc.returncode = status
    remove(cwd)
    if killed:
        remove(stats)
        return None
    with open(stats) as f:
        rss_kib = int(f.read().split()[-1])
    remove(stats)
    # time passes the tool's status on, or 128 + its signal.
    return (usage.ru_utime + usage.ru_stime, wall, rss_kib / 1024,
            os.waitstatus_to_exitcode(status))


def measure(binary, args, archive, work, runs, timeout):
    results = []
    for _ in range(runs):
        got = run_once(binary, args, archive, work, timeout)
        if got is None:
            return None
        results.append(got)
    return (statistics.median(r[0] for r in results),
            statistics.median(r[1] for r in results),
            max(r[2] for r in results), results[0][3])


def family(binary, name, args, make, opts, work):
    mode = " ".join(args) or "default mode"
    print("\n%s (%s)" % (name, mode))
    print("  %6s %10s %9s %9s %7s %9s %8s %8s  %s" % (
        "scale", "size", "CPU s", "wall s", "MB/s", "RSS MiB", "x size",
        "x CPU", "within 1.5x of linear"))
    last = None
    row = []
    rss_row = []
    for k in (opts.scale, 4 * opts.scale, 16 * opts.scale):
        archive = os.path.join(work, "archive.mht")
        with open(archive, "wb") as f:
            f.write(make(k))
        size = os.path.getsize(archive)
        got = measure(binary, args, archive, work, opts.runs, opts.timeout)
        os.remove(archive)
        if got is None:
            print("  %5dn %10d   timeout (over %g s); larger scales skipped"
                  % (k, size, opts.timeout))
            row.append("timeout")
            rss_row.append("-")
            break
        cpu, wall, rss, status = got
        rss_row.append("%.0f" % rss)
        grow = verdict = ""
        if last:
            size_x, cpu_x = size / last[0], cpu / max(last[1], 1e-3)
            grow = "%8.2f %8.2f" % (size_x, cpu_x)
            verdict = "yes" if cpu_x <= 1.5 * size_x else "NO"
            row.append("%.1fx (%.1fx)" % (cpu_x, size_x))
        else:
            grow = "%8s %8s" % ("", "")
        print("  %5dn %10d %9.3f %9.3f %7.1f %9.1f %s  %s%s" % (
            k, size, cpu, wall, size / 1e6 / max(cpu, 1e-3), rss, grow,
            verdict,
            "" if status == 0 else "  (status %d)" % status))
        last = (size, cpu)
    return "| %s | %s | %s | %s |" % (name, mode, " / ".join(row),
                                      " / ".join(rss_row))


def fifo(binary, opts, work):
    print("\nFIFO without a writer: time to end")
    path = os.path.join(work, "pipe.mht")
    os.mkfifo(path)
    cells = []
    for args in FIFO_MODES:
        mode = " ".join(args) or "default mode"
        got = run_once(binary, args, path, work, opts.fifo_timeout)
        shown = ("timeout (over %g s)" % opts.fifo_timeout if got is None
                 else "%.3f s, status %d" % (got[1], got[3]))
        print("  %-14s %s" % (mode, shown))
        cells.append("%s: %s" % (mode, "timeout" if got is None
                                 else "%.2f s" % got[1]))
    os.remove(path)
    return "| FIFO without a writer | every mode | %s | |" % "; ".join(cells)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("binary")
    parser.add_argument("--scale", type=int, default=1)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--timeout", type=float, default=30)
    parser.add_argument("--fifo-timeout", type=float, default=3)
    parser.add_argument("family", nargs="*")
    opts = parser.parse_intermixed_args()
    binary = os.path.abspath(opts.binary)
    work = tempfile.mkdtemp(prefix="mimeunpack-growth.",
                            dir="/dev/shm" if os.path.isdir("/dev/shm")
                            else None)
    rows = []
    try:
        for name, args, make in FAMILIES:
            if not opts.family or any(f in name for f in opts.family):
                rows.append(family(binary, name, args, make, opts, work))
        if not opts.family or "fifo" in opts.family:
            rows.append(fifo(binary, opts, work))
    finally:
        remove(work)
    # The same as a Markdown table, for docs/hostile-input.md.
    print("\n| Family | Mode | CPU growth n->4n / 4n->16n (size growth) "
          "| Peak RSS MiB at n / 4n / 16n |")
    print("|---|---|---|---|")
    for row in rows:
        print(row)


if __name__ == "__main__":
    sys.exit(main())
