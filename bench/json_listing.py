#!/usr/bin/env python3
"""Times the listing of an archive of many tiny parts with and without
--json, in the default mode and under -a: the median CPU time (user and
system) of RUNS runs each (alternating), standard output to /dev/null, and
the ratio. CPU time rather than wall time: the machine may be shared. The goal
for --json is at most 1.5 times the plain listing.

usage: bench/json_listing.py BINARY [PARTS] [RUNS]   (100000 and 5 by default)
"""

import os
import resource
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    binary = os.path.abspath(sys.argv[1])
    parts = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    with tempfile.TemporaryDirectory(dir="/dev/shm") as work:
        subprocess.run([sys.executable, os.path.join(HERE, "make_archive.py"),
                        str(parts), work, "tiny"], check=True,
                       stdout=subprocess.DEVNULL)
        archive = "archive-tiny-%d.mht" % parts
        for layout in ([], ["-a"]):
            times = {}
            for _ in range(runs):
                for json in ([], ["--json"]):
                    before = resource.getrusage(resource.RUSAGE_CHILDREN)
                    subprocess.run([binary] + layout + ["-l"] + json +
                                   [archive], cwd=work, check=True,
                                   stdout=subprocess.DEVNULL)
                    after = resource.getrusage(resource.RUSAGE_CHILDREN)
                    times.setdefault(bool(json), []).append(
                        after.ru_utime - before.ru_utime +
                        after.ru_stime - before.ru_stime)
            plain = statistics.median(times[False])
            manifest = statistics.median(times[True])
            print("%-4s -l %.3f s   -l --json %.3f s   ratio %.2f" % (
                " ".join(layout) or "def", plain, manifest,
                manifest / plain))


if __name__ == "__main__":
    main()
