"""`cmake --install` to a temporary prefix: the eight files and the pages of
docs/ land where the manual and the README say, the installed binary unpacks
the example, and the installed bash, zsh and fish completions complete what
they should."""

import filecmp
import os
import re
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
        zsh = os.path.join(prefix, "share", "zsh", "vendor-completions",
                           "_mimeunpack")
        fish = os.path.join(prefix, "share", "fish", "vendor_completions.d",
                            "mimeunpack.fish")
        for path in (binary, manual, conf, readme, licence, completion, zsh,
                     fish):
            if not os.path.isfile(path):
                problems.append("not installed: " + path)
        if problems:
            return problems
        if not os.access(binary, os.X_OK):
            problems.append("bin/mimeunpack is not executable")
        for installed, source in ((conf, "examples/base64.conf"),
                                  (completion, "completion/mimeunpack.bash"),
                                  (zsh, "completion/_mimeunpack"),
                                  (fish, "completion/mimeunpack.fish"),
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
        problems += check_completion(zsh, "zsh")
        problems += check_completion(fish, "fish")
    return problems


def doc_pages(prefix, source_dir):
    """Every Markdown page of docs/ and picture of docs/images/ with where
    it should be installed: beside the README, in a docs/ of its own, so
    that README's links work there."""
    pages = sorted(n for n in os.listdir(os.path.join(source_dir, "docs"))
                   if n.endswith(".md"))
    pages += sorted("images/" + n for n in os.listdir(
        os.path.join(source_dir, "docs", "images")) if n.endswith(".png"))
    return tuple((os.path.join(prefix, "share", "doc", "mimeunpack", "docs",
                               n), "docs/" + n) for n in pages)


# zsh completes only in its line editor: this drives an interactive zsh on
# a pseudo-terminal, types the line and <Tab>, and prints every match that
# reaches compadd on a line of its own after "MATCH:".
ZSH_CAPTURE = r"""
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "PROMPT=; fpath=(${1:h} \$fpath); autoload -U compinit; compinit -u -D"
zpty -w z 'compadd () { local -a _h; builtin compadd -A _h "$@";'\
' (( $#_h )) && print -r -l -- "" ${_h/#/MATCH:}; builtin compadd "$@"; }'
zpty -w z 'comppostfuncs=(exit); bindkey "^I" complete-word'
zpty -n -w z "$2"$'\t'
while zpty -r z line; do print -r -- $line; done
"""


def offered_by(shell, script, words, work):
    """What `shell` offers for the command line ending in words[-1]."""
    line = " ".join(["mimeunpack"] + [w.replace(" ", "\\ ") for w in words])
    if shell == "bash":
        line = " ".join("'%s'" % w for w in ["mimeunpack"] + words)
        command = ["bash", "-c", 'source "$0"; COMP_WORDS=(%s); '
                   'COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _mimeunpack; '
                   'printf "%%s\\n" "${COMPREPLY[@]}"' % line, script]
    elif shell == "zsh":
        command = ["zsh", "-f", "-c", ZSH_CAPTURE, "zsh", script, line]
    else:
        command = ["fish", "--no-config", "-c", 'source $argv[1]; '
                   'complete -C"$argv[2]"', script, line]
    run = subprocess.run(command, cwd=work, capture_output=True, text=True,
                         timeout=60)
    if shell == "bash":
        got = [l for l in run.stdout.splitlines() if l]
    elif shell == "zsh":
        got = [m.replace("\\ ", " ") for m in
               re.findall(r"^MATCH:(.*)$", run.stdout.replace("\r", ""),
                          re.M)]
    else:  # fish: the match, a tab and its description
        got = [l.split("\t")[0].rstrip("/") for l in run.stdout.splitlines()]
    return sorted(set(got)), run.returncode, run.stderr


def check_completion(script, shell="bash"):
    """Completes a few command lines in a directory of archives, others and
    subdirectories, as the shell would on <Tab>."""
    if not shutil.which(shell):
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
            got, status, errors = offered_by(shell, script, words, work)
            if status or got != sorted(offered):
                problems.append("%s: completing %r offers %r, not %r %s" % (
                    shell, words, got, offered, errors))
    return problems


if __name__ == "__main__":
    found = main()
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
