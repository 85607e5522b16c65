"""Two builds of the same sources, in directories of different names and
lengths, at different times, under different umasks and time zones, give
the same .deb to the byte, and neither build's path is in it.

The builds add -g: debug information would carry the build paths into the
binary's build ID (which survives stripping) without -ffile-prefix-map."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77  # ctest's SKIP_RETURN_CODE for this test
TOOLS = ("git", "dpkg", "dpkg-deb", "dpkg-shlibdeps", "dpkg-parsechangelog",
         "gzip")


def copy_tracked(source_dir, dest):
    """The files git knows (tracked, or new and not ignored) as they are in
    the working tree."""
    listed = subprocess.run(["git", "-C", source_dir, "ls-files", "-z",
                             "--cached", "--others", "--exclude-standard"],
                            check=True, capture_output=True).stdout
    for rel in listed.decode().split("\0"):
        src = os.path.join(source_dir, rel)
        if rel and os.path.isfile(src):
            os.makedirs(os.path.join(dest, os.path.dirname(rel)),
                        exist_ok=True)
            shutil.copy2(src, os.path.join(dest, rel))


def build_package(source, umask, tz):
    """Configures, builds and packages `source`; returns the .deb's path."""
    build = os.path.join(source, "build")
    env = dict(os.environ, TZ=tz)

    def run(*command):
        done = subprocess.run(command, env=env, capture_output=True,
                              text=True, preexec_fn=lambda: os.umask(umask))
        if done.returncode:
            raise RuntimeError("%s failed:\n%s%s" % (
                " ".join(command), done.stdout, done.stderr))
    run("cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
        "-DCMAKE_CXX_FLAGS=-g", "-DMIMEUNPACK_BUILD_TESTS=OFF")
    run("cmake", "--build", build, "-j2", "--target", "deb")
    debs = [n for n in os.listdir(build) if n.endswith(".deb")]
    if len(debs) != 1:
        raise RuntimeError("the deb target made %r" % debs)
    return os.path.join(build, debs[0])


def differences(first, second):
    """Where two .deb files differ: control fields and extracted files."""
    found = []
    with tempfile.TemporaryDirectory() as work:
        trees = []
        for i, deb in enumerate((first, second)):
            root = os.path.join(work, str(i))
            subprocess.run(["dpkg-deb", "-R", deb, root], check=True)
            trees.append(root)
            listing = subprocess.run(["dpkg-deb", "-c", deb], check=True,
                                     capture_output=True, text=True).stdout
            found.append("members of %s:\n%s" % (deb, listing))
        for d, _, names in os.walk(trees[0]):
            for n in names:
                a = os.path.join(d, n)
                b = os.path.join(trees[1], os.path.relpath(a, trees[0]))
                with open(a, "rb") as fa, open(b, "rb") as fb:
                    if fa.read() != fb.read():
                        found.append("differs: " +
                                     os.path.relpath(a, trees[0]))
    return found


def main():
    source_dir = sys.argv[1]
    missing = [t for t in TOOLS if not shutil.which(t)]
    if missing:
        print("SKIP: the package needs", " ".join(missing))
        sys.exit(SKIP)
    if subprocess.run(["git", "-C", source_dir, "rev-parse"],
                      capture_output=True).returncode:
        print("SKIP: the sources are not a git checkout")
        sys.exit(SKIP)
    problems = []
    with tempfile.TemporaryDirectory() as one, \
            tempfile.TemporaryDirectory() as two:
        first_src = os.path.join(one, "src")
        second_src = os.path.join(two, "a-longer-directory", "mimeunpack-src")
        copy_tracked(source_dir, first_src)
        copy_tracked(source_dir, second_src)
        started = time.time()
        try:
            first = build_package(first_src, 0o022, "UTC")
            # The second build must start in a later second than the first.
            time.sleep(max(0.0, started + 1.5 - time.time()))
            second = build_package(second_src, 0o027, "Pacific/Kiritimati")
        except RuntimeError as e:
            return [str(e)]
        with open(first, "rb") as f:
            first_bytes = f.read()
        with open(second, "rb") as f:
            second_bytes = f.read()
        if first_bytes != second_bytes:
            problems.append("the two packages differ")
            problems += differences(first, second)
        for deb, path in ((first, one), (second, two)):
            data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb],
                                  check=True, capture_output=True).stdout
            if path.encode() in data:
                problems.append("%s holds its build path %s" % (deb, path))
        print("built %s twice in %.0f s, %d bytes each" % (
            os.path.basename(first), time.time() - started,
            len(first_bytes)))
    return problems


if __name__ == "__main__":
    found = main()
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
