"""The Debian package: `cmake --build <build> --target deb` makes
mimeunpack_<version>_<arch>.deb with its library dependencies, Debian's
layout (compressed manual page and changelog, copyright, stripped binary),
fixed time stamps and owners; the binary extracted from it unpacks the
example, and lintian finds no error and no warning in it."""

import gzip
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile

from example import check_unpacks_example

SKIP = 77  # ctest's SKIP_RETURN_CODE for this test
TOOLS = ("dpkg", "dpkg-deb", "dpkg-shlibdeps", "dpkg-parsechangelog", "gzip")


def output(*command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True,
                          text=True, **kwargs).stdout.strip()


def expected_epoch(source_dir):
    """The time every member must carry: SOURCE_DATE_EPOCH, else the last
    commit's, else the changelog's top entry's."""
    if "SOURCE_DATE_EPOCH" in os.environ:
        return int(os.environ["SOURCE_DATE_EPOCH"])
    top = subprocess.run(["git", "-C", source_dir, "rev-parse",
                          "--show-toplevel"], capture_output=True, text=True)
    if top.returncode == 0 and os.path.realpath(top.stdout.strip()) == \
            os.path.realpath(source_dir):
        return int(output("git", "-C", source_dir, "log", "-1",
                          "--format=%ct"))
    return int(output("dpkg-parsechangelog", "-l",
                      os.path.join(source_dir, "packaging", "changelog"),
                      "-S", "Timestamp"))


def gzip_problems(name, data, want):
    """gzip -9n: no file name, no time, maximum compression, and `want`
    inside."""
    problems = []
    if data[:2] != b"\x1f\x8b":
        return [name + " is not gzip"]
    if data[3] & 0x08:
        problems.append(name + " records a file name (gzip without -n)")
    if data[4:8] != b"\0\0\0\0":
        problems.append(name + " records a time (gzip without -n)")
    if data[8] != 2:
        problems.append(name + " is not compressed with -9")
    if gzip.decompress(data) != want:
        problems.append(name + " does not hold what it should")
    return problems


def ar_members(deb):
    """[(name, mtime, uid, gid)] of the .deb's ar container."""
    with open(deb, "rb") as f:
        data = f.read()
    members, at = [], 8
    while at < len(data):
        header = data[at:at + 60]
        size = int(header[48:58])
        members.append((header[0:16].decode().strip().rstrip("/"),
                        int(header[16:28]), header[28:34].strip(),
                        header[34:40].strip()))
        at += 60 + size + (size & 1)
    return members


def check_licence(copyright_text, licence_text):
    """The copyright file is DEP-5 and carries LICENSE's terms word for word,
    and names GMime's licence."""
    problems = []
    if not copyright_text.startswith(
            "Format: https://www.debian.org/doc/packaging-manuals/"
            "copyright-format/1.0/\n"):
        problems.append("copyright is not DEP-5 (Format: line)")
    m = re.search(r"^License: Expat\n((?: .*\n)+)", copyright_text, re.M)
    if not m:
        return problems + ["copyright has no Expat (MIT) licence text"]
    words = " ".join(l.strip() for l in m.group(1).splitlines()
                     if l.strip() != ".").split()
    terms = licence_text.split("Permission is hereby granted", 1)[1]
    if words != ("Permission is hereby granted" + terms).split():
        problems.append("copyright's Expat text differs from LICENSE")
    holder = re.search(r"Copyright \(c\) (.*)", licence_text).group(1)
    if "Copyright: " + holder not in copyright_text:
        problems.append("copyright lacks LICENSE's holder " + holder)
    for needed in ("GMime", "License: LGPL-2.1+",
                   "/usr/share/common-licenses/LGPL-2.1"):
        if needed not in copyright_text:
            problems.append("copyright does not mention " + needed)
    return problems


def check_deb(deb, build_dir, source_dir, version, arch):
    problems = []
    fields = {f: output("dpkg-deb", "-f", deb, f) for f in (
        "Package", "Version", "Architecture", "Depends", "Maintainer",
        "Description", "Section", "Priority", "Installed-Size")}
    want = {"Package": "mimeunpack", "Version": version,
            "Architecture": arch}
    for field, value in want.items():
        if fields[field] != value:
            problems.append("%s is %r, not %r" % (field, fields[field], value))
    # A C++ program needs at least the C and C++ runtimes, each with a
    # minimum version that only dpkg-shlibdeps would know.
    for lib in ("libc6 (>=", "libstdc++6 (>="):
        if lib not in fields["Depends"]:
            problems.append("Depends %r lacks %s" % (fields["Depends"], lib))
    for field, value in fields.items():
        if not value:
            problems.append(field + " is empty")

    # Owners, times and order of every member, in the ar container and in
    # both tar archives.
    epoch = expected_epoch(source_dir)
    for name, mtime, uid, gid in ar_members(deb):
        if (mtime, uid, gid) != (epoch, b"0", b"0"):
            problems.append("ar member %s: time %d uid %s gid %s, expected "
                            "%d 0 0" % (name, mtime, uid, gid, epoch))
    for tar_of in ("--ctrl-tarfile", "--fsys-tarfile"):
        data = subprocess.run(["dpkg-deb", tar_of, deb], check=True,
                              capture_output=True).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as tar:
            members = tar.getmembers()
        names = [m.name for m in members]
        if names != sorted(names):
            problems.append("%s members are not sorted: %r" % (tar_of, names))
        for m in members:
            if (m.mtime, m.uid, m.gid, m.uname, m.gname) != \
                    (epoch, 0, 0, "root", "root"):
                problems.append("%s %s: time %d owner %s:%s (%d:%d)" % (
                    tar_of, m.name, m.mtime, m.uname, m.gname, m.uid, m.gid))
            mode = m.mode & 0o7777
            want_mode = 0o755 if m.isdir() or m.name.startswith(
                "./usr/bin/") else 0o644
            if mode != want_mode:
                problems.append("%s %s: mode %o, expected %o" % (
                    tar_of, m.name, mode, want_mode))

    root = os.path.join(build_dir, "deb-test-root")
    shutil.rmtree(root, ignore_errors=True)
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    usr = os.path.join(root, "usr")
    doc = os.path.join(usr, "share", "doc", "mimeunpack")
    for rel in ("bin/mimeunpack", "share/man/man1/mimeunpack.1.gz",
                "share/mimeunpack/base64.conf",
                "share/doc/mimeunpack/README.md",
                "share/doc/mimeunpack/docs/design.md",
                "share/doc/mimeunpack/docs/messages.md",
                "share/doc/mimeunpack/docs/manifest.schema.json",
                "share/doc/mimeunpack/changelog.gz",
                "share/doc/mimeunpack/copyright",
                "share/bash-completion/completions/mimeunpack",
                "share/zsh/vendor-completions/_mimeunpack",
                "share/fish/vendor_completions.d/mimeunpack.fish"):
        if not os.path.isfile(os.path.join(usr, rel)):
            problems.append("not in the package: /usr/" + rel)
    for rel in ("share/man/man1/mimeunpack.1", "share/doc/mimeunpack/LICENSE"):
        if os.path.exists(os.path.join(usr, rel)):
            problems.append("in the package, should not be: /usr/" + rel)
    if problems:
        return problems

    def read(path):
        with open(path, "rb") as f:
            return f.read()
    problems += gzip_problems(
        "mimeunpack.1.gz",
        read(os.path.join(usr, "share", "man", "man1", "mimeunpack.1.gz")),
        read(os.path.join(build_dir, "mimeunpack.1")))
    changelog = read(os.path.join(source_dir, "packaging", "changelog"))
    problems += gzip_problems(
        "changelog.gz", read(os.path.join(doc, "changelog.gz")), changelog)
    problems += check_licence(
        read(os.path.join(doc, "copyright")).decode(),
        read(os.path.join(source_dir, "LICENSE")).decode())

    if shutil.which("readelf"):
        sections = output("readelf", "-S", "-W",
                          os.path.join(usr, "bin", "mimeunpack"))
        for section in (".symtab", ".debug_info", ".comment"):
            if " %s " % section in sections:
                problems.append("the binary is not stripped: it has " +
                                section)
    problems += check_unpacks_example(
        os.path.join(usr, "bin", "mimeunpack"),
        os.path.join(usr, "share", "mimeunpack", "base64.conf"), source_dir)
    shutil.rmtree(root)
    return problems


def lintian(deb):
    """Problems from lintian's errors and warnings; prints the rest."""
    run = subprocess.run(["lintian", "--fail-on", "error,warning",
                          "--display-info", "--pedantic", deb],
                         capture_output=True, text=True)
    problems = []
    for line in run.stdout.splitlines():
        if line.startswith(("E: ", "W: ")):
            problems.append("lintian: " + line)
        elif line.strip():
            print("lintian (accepted):", line)
    if run.returncode and not problems:
        problems.append("lintian failed (%d): %s" % (run.returncode,
                                                     run.stderr.strip()))
    return problems


def main():
    build_dir, source_dir, version = sys.argv[1:4]
    missing = [t for t in TOOLS if not shutil.which(t)]
    if missing:
        print("SKIP: the package needs", " ".join(missing))
        sys.exit(SKIP)
    problems = []
    # The version the package ships must have its changelog entry.
    with open(os.path.join(source_dir, "packaging", "changelog"),
              encoding="utf-8") as f:
        top = re.match(r"mimeunpack \(([^)]+)\)", f.readline())
    if not top or top.group(1) != version:
        problems.append("packaging/changelog's top entry is %s, but project() "
                        "says %s" % (top and top.group(1), version))
    arch = output("dpkg", "--print-architecture")
    name = "mimeunpack_%s_%s.deb" % (version, arch)
    with open(os.path.join(source_dir, "README.md"), encoding="utf-8") as f:
        install = f.read().split("## Install")[1].split("\n## ")[0]
    if "mimeunpack_%s_" % version not in install:
        problems.append("README's Install section does not name the "
                        "package of version " + version)

    deb = os.path.join(build_dir, name)
    build = subprocess.run(["cmake", "--build", build_dir, "--target", "deb"],
                           capture_output=True, text=True)
    if build.returncode:
        return problems + ["building the package failed:\n" + build.stdout +
                           build.stderr]
    if not os.path.isfile(deb):
        return problems + ["the deb target made no " + name]
    problems += check_deb(deb, build_dir, source_dir, version, arch)
    if problems:
        return problems
    if not shutil.which("lintian"):
        print("SKIP: lintian is not installed; every other check passed")
        sys.exit(SKIP)
    return lintian(deb)


if __name__ == "__main__":
    found = main()
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
