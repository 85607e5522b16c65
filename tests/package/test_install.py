"""`cmake --install` to a temporary prefix: the six files and the pages of
docs/ land where the manual and the README say, the installed binary unpacks
the example, and the installed bash completion completes what it should."""

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
        completion = os.path.join(prefix, "share", "bash-completion",
                                  "completions", "mimeunpack")
        for path in (binary, manual, conf, readme, licence, completion):
            if not os.path.isfile(path):
                problems.append("not installed: " + path)
        if problems:
            return problems
        if not os.access(binary, os.X_OK):
            problems.append("bin/mimeunpack is not executable")
        for installed, source in ((conf, "examples/base64.conf"),
                                  (completion, "completion/mimeunpack.bash"),
                                  (readme, "README.md"),
                                  (licence, "LICENSE")) + doc_pages(
                                      prefix, source_dir):
            if not os.path.isfile(installed):
                problems.append("not installed: " + installed)
            elif not filecmp.cmp(installed, os.path.join(source_dir, source),
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
        problems += check_completion(completion)
    return problems


def doc_pages(prefix, source_dir):
    """Every Markdown page of docs/ with where it should be installed: beside
    the README, in a docs/ of its own, so that README's links work there."""
    pages = sorted(n for n in os.listdir(os.path.join(source_dir, "docs"))
                   if n.endswith(".md"))
    return tuple((os.path.join(prefix, "share", "doc", "mimeunpack", "docs",
                               n), "docs/" + n) for n in pages)


def check_completion(script):
    """Completes a few command lines in a directory of archives, others and
    subdirectories, as bash would on <Tab>."""
    if not shutil.which("bash"):
        return []
    cases = [  # (words on the line, the last one being completed; offered)
        (["--di"], ["--directory", "--dir-per-archive"]),
        ([""], ["-odd.mht", "a.mht", "b.MHTML", "sub dir"]),
        (["-C", ""], ["sub dir"]),
        (["-q", "--table", "c"], ["c.conf"]),
        (["-q", "--", "-"], ["-odd.mht"]),
    ]
    problems = []
    with tempfile.TemporaryDirectory() as work:
        for name in ("a.mht", "b.MHTML", "c.conf", "-odd.mht"):
            open(os.path.join(work, name), "w").close()
        os.mkdir(os.path.join(work, "sub dir"))
        for words, offered in cases:
            line = " ".join("'%s'" % w for w in ["mimeunpack"] + words)
            run = subprocess.run(
                ["bash", "-c", 'source "$0"; COMP_WORDS=(%s); '
                 'COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _mimeunpack; '
                 'printf "%%s\\n" "${COMPREPLY[@]}"' % line, script],
                cwd=work, capture_output=True, text=True)
            got = sorted(l for l in run.stdout.splitlines() if l)
            if run.returncode or got != sorted(offered):
                problems.append("completing %r offers %r, not %r %s" % (
                    words, got, offered, run.stderr))
    return problems


if __name__ == "__main__":
    found = main()
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
