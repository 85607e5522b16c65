#!/usr/bin/env python3
"""Times every mode beside a copy of the archive: the default mode, -a and
--offline, and `cat archive > copy`, on the shapes of bench/make_archive.py.

For each archive the modes run in turns (the order rotating each round) in a
fresh directory on /dev/shm, RUNS times each; printed per mode: the median
wall time, its ratio to the default mode and to the copy, the median CPU
time and the peak RSS of all its runs (/usr/bin/time). Modes that do not
read a shape are shown as "-": the default mode reads office archives only.

usage: bench/modes.py [--binary PATH] [--runs N] [SET | SHAPE:SIZE ...]
  SET is `quick` (small sizes, about a minute) or `full` (the sizes below);
  SHAPE:SIZE picks archives one by one (office:256 browser:350 tiny:100000).
  Without --binary, a Release build in build-bench/ is made and used.

The full set: office archives of 64, 256 and 512 MiB; one base64 part of
512 MiB decoded (a 700 MiB archive); one quoted-printable page of 256 MiB;
a browser's archive of 350 MiB holding one 256 MiB base64 picture; a 1 GiB
HTML page for --offline; 100,000 tiny parts.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CACHE = os.path.join(HERE, "cache")

# (shape, size) as make_archive.py takes them.
SETS = {
    "full": [("office", 64), ("office", 256), ("office", 512),
             ("base64", 700), ("qp", 256), ("browser", 350), ("page", 1024),
             ("tiny", 100000)],
    "quick": [("office", 32), ("base64", 44), ("qp", 16), ("browser", 22),
              ("page", 64), ("tiny", 5000)],
}
# Which modes read which shape: the default mode only an office layout.
OFFICE_SHAPES = ("office", "base64", "qp", "tiny")
MODES = (("default", []), ("-a", ["-a"]), ("--offline", ["--offline"]))


def archive_for(shape, size):
    name = ("archive-%d.mht" % size if shape == "office" else
            "archive-%s-%d.mht" % (shape, size))
    path = os.path.join(CACHE, name)
    if not os.path.isfile(path):
        subprocess.run([sys.executable, os.path.join(HERE, "make_archive.py"),
                        str(size), CACHE, shape], check=True,
                       stdout=subprocess.DEVNULL)
    return path


def build_binary():
    build = os.path.join(ROOT, "build-bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", build,
                    "-DCMAKE_BUILD_TYPE=Release"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2", "--target",
                    "mimeunpack"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build, "mimeunpack")


def timed(command, cwd, stdout):
    """Wall seconds, CPU seconds and peak RSS in KiB of one run."""
    stats = os.path.join(cwd, "..", "time.txt")
    start = time.perf_counter()
    run = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", stats] +
                         command, cwd=cwd, stdout=stdout,
                         stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    with open(stats) as f:
        user, system, rss = f.read().split()[-3:]
    return wall, float(user) + float(system), int(rss), run.returncode


def measure(binary, shape, size, runs, work):
    archive = archive_for(shape, size)
    subprocess.run(["cat", archive], check=True, stdout=subprocess.DEVNULL)
    conf = os.path.join(CACHE, "base64.conf")
    modes = [("copy", None)] + [
        (name, args) for name, args in MODES
        if name != "default" or shape in OFFICE_SHAPES]
    results = {name: [] for name, _ in modes}
    for round_ in range(runs):
        turn = round_ % len(modes)
        for name, args in modes[turn:] + modes[:turn]:
            cwd = os.path.join(work, "run")
            os.mkdir(cwd)
            shutil.copy(conf, cwd)
            if args is None:
                with open(os.path.join(cwd, "copy"), "wb") as out:
                    got = timed(["cat", archive], cwd, out)
            else:
                got = timed([binary] + args + ["-q", archive], cwd,
                            subprocess.DEVNULL)
            shutil.rmtree(cwd)
            if got[3]:
                print("  %s on %s ended with status %d" %
                      (name, os.path.basename(archive), got[3]))
            results[name].append(got)
    return archive, results


def report(archive, results):
    size = os.path.getsize(archive)
    print("\n%s (%.1f MB)" % (os.path.basename(archive), size / 1e6))
    med = {name: statistics.median(r[0] for r in runs)
           for name, runs in results.items()}
    print("  %-10s %9s %8s %8s %9s %9s  %s" % (
        "mode", "median s", "/default", "/copy", "CPU s", "peak RSS",
        "runs (s)"))
    for name, runs in results.items():
        base = med.get("default")
        print("  %-10s %9.3f %8s %8.2f %9.3f %6.0f MiB  %s" % (
            name, med[name],
            "%.2f" % (med[name] / base) if base else "-",
            med[name] / med["copy"],
            statistics.median(r[1] for r in runs),
            max(r[2] for r in runs) / 1024,
            " ".join("%.3f" % r[0] for r in runs)))
    return size, med, {n: max(r[2] for r in runs) / 1024
                       for n, runs in results.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("which", nargs="*", default=["quick"])
    opts = parser.parse_intermixed_args()
    if not os.path.exists("/usr/bin/time"):
        sys.exit("bench/modes.py needs /usr/bin/time (Debian package 'time')")
    chosen = []
    for item in opts.which:
        if item in SETS:
            chosen += SETS[item]
        else:
            shape, _, size = item.partition(":")
            chosen.append((shape, int(size)))
    binary = os.path.abspath(opts.binary) if opts.binary else build_binary()
    work = tempfile.mkdtemp(prefix="mimeunpack-modes.", dir="/dev/shm")
    rows = []
    try:
        for shape, size in chosen:
            rows.append(report(*measure(binary, shape, size, opts.runs,
                                        work)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    # The same figures as a Markdown table, for docs/performance.md.
    print("\n| Archive | copy | default | -a | --offline | RSS default / -a "
          "/ --offline |\n|---|---|---|---|---|---|")
    for (shape, size), (nbytes, med, rss) in zip(chosen, rows):
        def cell(mode):
            if mode not in med:
                return "-"
            ratio = ["%.2fx copy" % (med[mode] / med["copy"])]
            if "default" in med and mode != "default":
                ratio.insert(0, "%.2fx" % (med[mode] / med["default"]))
            return "%.3f s (%s)" % (med[mode], ", ".join(ratio))
        print("| %s %d (%.1f MB) | %.3f s | %s | %s | %s | %s |" % (
            shape, size, nbytes / 1e6, med["copy"], cell("default"),
            cell("-a"), cell("--offline"),
            " / ".join("%.0f" % rss[m] if m in rss else "-"
                       for m in ("default", "-a", "--offline"))))


if __name__ == "__main__":
    main()
