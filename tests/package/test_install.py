"""`cmake --install` to a temporary prefix: the five files land where the
manual and the README say, and the installed binary unpacks the example."""

import filecmp
import os
import shutil
import subprocess
import sys
import tempfile

from example import check_unpacks_example


def main():
    build_dir, source_dir, version = sys.argv[1:4]
    problems = []
    with tempfile.TemporaryDirectory() as prefix:
        subprocess.run(["cmake", "--install", build_dir, "--prefix", prefix],
                       check=True, stdout=subprocess.DEVNULL)
        binary = os.path.join(prefix, "bin", "mimeunpack")
        manual = os.path.join(prefix, "share", "man", "man1", "mimeunpack.1")
        conf = os.path.join(prefix, "share", "mimeunpack", "base64.conf")
        readme = os.path.join(prefix, "share", "doc", "mimeunpack",
                              "README.md")
        licence = os.path.join(prefix, "share", "doc", "mimeunpack",
                               "LICENSE")
        for path in (binary, manual, conf, readme, licence):
            if not os.path.isfile(path):
                problems.append("not installed: " + path)
        if problems:
            return problems
        if not os.access(binary, os.X_OK):
            problems.append("bin/mimeunpack is not executable")
        for installed, source in ((conf, "examples/base64.conf"),
                                  (readme, "README.md"),
                                  (licence, "LICENSE")):
            if not filecmp.cmp(installed, os.path.join(source_dir, source),
                               shallow=False):
                problems.append(installed + " differs from " + source)
        with open(manual, encoding="utf-8") as f:
            page = f.read()
        if ".ds mV %s\n" % version not in page:
            problems.append("manual version is not " + version)
        if shutil.which("groff"):
            run = subprocess.run(["groff", "-ww", "-z", "-man", manual],
                                 capture_output=True, text=True)
            if run.returncode or run.stderr:
                problems.append("groff warns: " + run.stderr)
            run = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou",
                                  manual], capture_output=True, text=True)
            if "mimeunpack %s " % version not in run.stdout:
                problems.append("rendered manual lacks version " + version)
        problems += check_unpacks_example(binary, conf, source_dir)
    return problems


if __name__ == "__main__":
    found = main()
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
