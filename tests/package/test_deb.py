"""The Debian package: cpack builds mimeunpack_<version>_amd64.deb with its
library dependencies, and the binary extracted from it unpacks the example."""

import os
import platform
import shutil
import subprocess
import sys
import tempfile

from example import check_unpacks_example

SKIP = 77  # ctest's SKIP_RETURN_CODE for this test


def main():
    build_dir, source_dir, version = sys.argv[1:4]
    missing = [t for t in ("cpack", "dpkg-deb", "dpkg-shlibdeps")
               if not shutil.which(t)]
    if missing or platform.machine() != "x86_64":
        print("SKIP: needs cpack, dpkg-deb and dpkg-shlibdeps on amd64;"
              " missing:", " ".join(missing) or platform.machine())
        sys.exit(SKIP)
    problems = []
    with tempfile.TemporaryDirectory() as out:
        subprocess.run(["cpack", "-G", "DEB", "--config",
                        os.path.join(build_dir, "CPackConfig.cmake"),
                        "-B", out], check=True, stdout=subprocess.DEVNULL)
        name = "mimeunpack_%s_amd64.deb" % version
        deb = os.path.join(out, name)
        if not os.path.isfile(deb):
            return ["cpack made %r, not %s" % (os.listdir(out), name)]

        fields = {}
        for field in ("Package", "Version", "Architecture", "Depends",
                      "Maintainer", "Description"):
            fields[field] = subprocess.run(
                ["dpkg-deb", "-f", deb, field], check=True,
                capture_output=True, text=True).stdout.strip()
        want = {"Package": "mimeunpack", "Version": version,
                "Architecture": "amd64"}
        for field, value in want.items():
            if fields[field] != value:
                problems.append("%s is %r, not %r" %
                                (field, fields[field], value))
        # A C++ program needs at least the C and C++ runtimes, each with a
        # minimum version that only dpkg-shlibdeps would know.
        depends = fields["Depends"]
        for lib in ("libc6 (>=", "libstdc++6 (>="):
            if lib not in depends:
                problems.append("Depends %r lacks %s" % (depends, lib))
        for field in ("Maintainer", "Description"):
            if not fields[field]:
                problems.append(field + " is empty")

        root = os.path.join(out, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        usr = os.path.join(root, "usr")
        for rel in ("bin/mimeunpack", "share/man/man1/mimeunpack.1",
                    "share/mimeunpack/base64.conf",
                    "share/doc/mimeunpack/README.md"):
            if not os.path.isfile(os.path.join(usr, rel)):
                problems.append("not in the package: /usr/" + rel)
        if problems:
            return problems
        problems += check_unpacks_example(
            os.path.join(usr, "bin", "mimeunpack"),
            os.path.join(usr, "share", "mimeunpack", "base64.conf"),
            source_dir)
    return problems


if __name__ == "__main__":
    found = main()
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
