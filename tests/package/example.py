"""The shipped example, unpacked by an installed binary and checked.

The expected files are worked out here from the archive's layout and decoded
with python's own base64 and quoted-printable decoders, not with ours.
"""

import base64
import binascii
import os
import re
import shutil
import subprocess
import tempfile

# What examples/report.mht holds; a parse that finds anything else is wrong.
EXAMPLE_FILES = ["report.htm", "report_files/filelist.xml",
                 "report_files/image001.png"]


def expected_parts(archive):
    """Returns [(path, is_base64, bytes)] for the archive's parts, in order."""
    lines = archive.splitlines(keepends=True)
    header = next(i for i, l in enumerate(lines) if b"Content-Type" in l)
    boundary = re.search(rb'boundary="([^"]+)"', lines[header]).group(1)
    i = next(j for j in range(header + 1, len(lines)) if boundary in lines[j])
    i += 1
    parts = []
    while i < len(lines) and not lines[i - 1].rstrip(b"\r\n").endswith(
            boundary + b"--"):
        path = lines[i][29:].rstrip(b"\r\n").decode()
        is_base64 = b"base64" in lines[i + 1]
        body = []
        i += 4
        while i < len(lines) and boundary not in lines[i]:
            body.append(lines[i])
            i += 1
        i += 1
        data = b"".join(body)
        if is_base64:
            decoded = base64.b64decode(
                b"".join(l.rstrip(b"\r\n") for l in body))
        else:
            decoded = binascii.a2b_qp(data)
        parts.append((path, is_base64, decoded))
    return parts


def expected_stdout(archive_arg, conf, parts):
    out = [b"argc: 1, argv[1]: " + archive_arg.encode() + b"\n"]
    for line in conf.splitlines(keepends=True):
        m = re.match(rb"(\d+).(.)", line, re.S)
        if m and int(m.group(1)) != 0:
            out.append(b"Base64table [" + m.group(2) + b"]  = " +
                       m.group(1) + b"\n")
    out.append(b"Base64 nahran...\n")
    for path, is_base64, _ in parts:
        out.append(b"Zapis souboru %s, enc: %d\n" % (path.encode(), is_base64))
    return b"".join(out)


def files_under(root):
    found = {}
    for d, _, names in os.walk(root):
        for n in names:
            p = os.path.join(d, n)
            with open(p, "rb") as f:
                found[os.path.relpath(p, root)] = f.read()
    return found


def check_unpacks_example(binary, conf_path, source_dir):
    """Unpacks examples/report.mht with `binary` and the alphabet at
    `conf_path` in a fresh directory; returns a list of problems."""
    with open(os.path.join(source_dir, "examples", "report.mht"), "rb") as f:
        archive = f.read()
    with open(conf_path, "rb") as f:
        conf = f.read()
    parts = expected_parts(archive)
    problems = []
    if sorted(p for p, _, _ in parts) != EXAMPLE_FILES:
        return ["the example's parts are not the known ones: %r" %
                [p for p, _, _ in parts]]
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(os.path.join(source_dir, "examples", "report.mht"), work)
        shutil.copy(conf_path, os.path.join(work, "base64.conf"))
        run = subprocess.run([os.path.abspath(binary), "report.mht"],
                             cwd=work, capture_output=True, timeout=60)
        if run.returncode != 0:
            problems.append("exit status %d" % run.returncode)
        want_out = expected_stdout("report.mht", conf, parts)
        if run.stdout != want_out:
            problems.append("stdout %r, expected %r" % (run.stdout, want_out))
        if run.stderr:
            problems.append("stderr %r" % run.stderr)
        got = files_under(work)
        want = {p: data for p, _, data in parts}
        want["report.mht"] = archive
        want["base64.conf"] = conf
        for path in sorted(set(got) | set(want)):
            if path not in got:
                problems.append("missing %s" % path)
            elif path not in want:
                problems.append("unexpected %s" % path)
            elif got[path] != want[path]:
                problems.append("%s differs: %r, expected %r" %
                                (path, got[path][:80], want[path][:80]))
        if got.get("report_files/image001.png", b"")[:8] != \
                b"\x89PNG\r\n\x1a\n":
            problems.append("image001.png is not a PNG")
        if "Caf\u00e9 prices = unchanged".encode() not in got.get(
                "report.htm", b""):
            problems.append("report.htm lacks its decoded sentence")
    return problems
