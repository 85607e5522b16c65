"""Runs the mimeunpack binary in a fresh temporary directory and reports what
a user would see: stdout bytes, the shell's exit status and every file and
directory left behind.

Used by the end-to-end suites; the binary path comes from the first command
line argument (ctest passes it), else $MIMEUNPACK_BIN, else build/mimeunpack.
"""

import os
import pty
import shutil
import stat
import subprocess
import sys
import tempfile
import tty
import unittest
from dataclasses import dataclass, field

# RFC 2045 base64 alphabet; value 0 ('A') is the table's default, so the
# configuration file lists the other 63 characters.
ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
CONF_NAME = "base64.conf"
TIMEOUT_SECONDS = 60  # a guard against hangs only; no test depends on timing

_binary = None


def base64_conf(newline=b"\n"):
    """The RFC 2045 alphabet as base64.conf: 63 lines "N C\\n" for N=1..63."""
    return b"".join(b"%d %c%s" % (n, ALPHABET[n], newline) for n in range(1, 64))


def conf_echo():
    """What loading base64_conf() prints: one line per entry, then the
    closing line."""
    return (b"".join(b"Base64table [%c]  = %d\n" % (ALPHABET[n], n)
                     for n in range(1, 64)) + b"Base64 nahran...\n")


def progress(left, path):
    """The progress line printed before an archive is opened."""
    return b"argc: %d, argv[1]: %s\n" % (left, os.fsencode(path))


def writing(path, is_base64):
    """The line printed before a part is written."""
    return b"Zapis souboru %s, enc: %d\n" % (path, 1 if is_base64 else 0)


@dataclass(frozen=True)
class Symlink:
    """A symbolic link in a tree snapshot (never followed)."""
    target: str


DIR = None  # value of a directory in a tree snapshot
REMOVED = "removed"  # value in Result.created() of an entry that is gone


@dataclass
class Result:
    stdout: bytes
    status: int  # as the shell shows it: -1 is 255, -4 is 252
    tree: dict  # relative path -> bytes (file), DIR (directory) or Symlink
    before: dict = field(default_factory=dict)  # the tree before the run
    root: str = ""  # the temporary directory (removed after run() returns)
    stderr: bytes = b""  # what reached standard error (not on a terminal)

    def created(self):
        """Entries that are new or changed by the run, and those it removed
        (with the value REMOVED): {} when the run left the tree as it was."""
        changes = {p: v for p, v in self.tree.items()
                   if p not in self.before or self.before[p] != v}
        changes.update({p: REMOVED for p in self.before
                        if p not in self.tree})
        return changes


def snapshot(root):
    """Every file, directory and symlink under root: relative path (with '/')
    -> bytes, DIR or Symlink. Links are recorded, never followed."""
    tree = {}
    for dirpath, dirnames, filenames in os.walk(root, followlinks=False):
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, root).replace(os.sep, "/")
            st = os.lstat(full)
            if stat.S_ISLNK(st.st_mode):
                tree[rel] = Symlink(os.readlink(full))
            elif stat.S_ISDIR(st.st_mode):
                tree[rel] = DIR
            elif stat.S_ISREG(st.st_mode):
                with open(full, "rb") as f:
                    tree[rel] = f.read()
            else:
                tree[rel] = ("special", stat.S_IFMT(st.st_mode))
    return tree


def has_open(pid, path):
    """Whether process `pid` holds the file at `path` open."""
    target = os.stat(path)
    fds = "/proc/%d/fd" % pid
    try:
        for name in os.listdir(fds):
            try:
                st = os.stat(os.path.join(fds, name))
            except OSError:
                continue
            if (st.st_dev, st.st_ino) == (target.st_dev, target.st_ino):
                return True
    except OSError:
        pass
    return False


def binary():
    """Absolute path of the binary under test."""
    global _binary
    if _binary is None:
        _binary = os.environ.get("MIMEUNPACK_BIN") or os.path.join(
            os.path.dirname(os.path.abspath(__file__)), "..", "..", "build",
            "mimeunpack")
    return os.path.abspath(_binary)


def write_tree(root, files):
    """Creates files (bytes), directories (DIR) and symlinks (Symlink) under
    root, with the parents they need."""
    for rel, value in files.items():
        full = os.path.join(root, rel)
        parent = os.path.dirname(full)
        if parent:
            os.makedirs(parent, exist_ok=True)
        if value is DIR:
            os.makedirs(full, exist_ok=True)
        elif isinstance(value, Symlink):
            os.symlink(value.target, full)
        else:
            with open(full, "wb") as f:
                f.write(value)


def _run_on_terminal(command, cwd):
    """Runs command with standard output on a pseudo-terminal in raw mode (no
    line-end translation); returns (bytes that reached it, exit status)."""
    master, slave = pty.openpty()
    tty.setraw(slave)
    try:
        proc = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=slave, stderr=subprocess.PIPE)
    finally:
        os.close(slave)
    out = b""
    try:
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # EIO: every writer has closed the terminal
                break
            if not chunk:
                break
            out += chunk
    finally:
        os.close(master)
    proc.communicate(timeout=TIMEOUT_SECONDS)
    return out, proc.returncode


def run(archives=None, args=None, conf=True, files=None, setup=None,
        keep=False, terminal=False, preexec_fn=None):
    """Runs the binary in a fresh temporary directory.

    archives: name -> bytes, written before the run; args defaults to their
    names in order. conf: True writes base64_conf(), bytes writes those bytes,
    None/False writes no base64.conf. files: more entries for write_tree().
    setup(root) runs last, before the binary. With keep=True the directory is
    left for the caller to inspect and remove (Result.root). preexec_fn runs
    in the child before the binary (resource limits, signal dispositions).
    With terminal=True standard output is a pseudo-terminal instead of a
    pipe.
    """
    archives = archives or {}
    root = tempfile.mkdtemp(prefix="mimeunpack-e2e-")
    try:
        if conf is True:
            conf = base64_conf()
        if isinstance(conf, bytes):  # b"" writes an empty file
            write_tree(root, {CONF_NAME: conf})
        write_tree(root, archives)
        if files:
            write_tree(root, files)
        if setup:
            setup(root)
        if args is None:
            args = list(archives)
        before = snapshot(root)
        command = [binary()] + [os.fsdecode(a) if isinstance(a, bytes) else a
                                for a in args]
        if terminal:
            stdout, status = _run_on_terminal(command, root)
            stderr = b""
        else:
            proc = subprocess.run(command, cwd=root, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE,
                                  timeout=TIMEOUT_SECONDS,
                                  preexec_fn=preexec_fn)
            stdout, status = proc.stdout, proc.returncode
            stderr = proc.stderr
        if status < 0:  # killed by a signal: report it the way a shell would
            status = 128 - status
        return Result(stdout, status, snapshot(root), before, root, stderr)
    finally:
        if not keep:
            shutil.rmtree(root, ignore_errors=True)


# "=_" never occurs in base64 or quoted-printable text, so no encoded body
# line can hold this boundary by chance.
BOUNDARY = b"----=_NextPart_e2e.0001"


def archive(parts, boundary=BOUNDARY, nl=b"\n", header=None, close=True,
            epilogue=b""):
    """Builds an archive with LF (or nl) line ends. parts: list of
    (path, encoding, body): path is what follows "file:///C:/" on the
    location line, encoding b"base64" or b"quoted-printable", body the
    encoded bytes inserted as they are (including its last line end). A part
    may also be raw bytes, inserted verbatim after its "--B" line. header
    replaces the default message header; close=False leaves out the close
    delimiter, epilogue follows it.
    """
    out = header if header is not None else (
        b"MIME-Version: 1.0" + nl +
        b'Content-Type: multipart/related; boundary="' + boundary + b'"' +
        nl + nl + b"preamble" + nl + nl)
    for part in parts:
        out += b"--" + boundary + nl
        if isinstance(part, bytes):
            out += part
            continue
        path, enc, body = part
        out += (b"Content-Location: file:///C:/" + path + nl +
                b"Content-Transfer-Encoding: " + enc + nl +
                b"Content-Type: application/octet-stream" + nl + nl + body)
    if close:
        out += b"--" + boundary + b"--" + nl + epilogue
    return out


SKIPPED = 77  # ctest's skip status (SKIP_RETURN_CODE)


def exit_if_level_missing():
    """Ends the run with SKIPPED when MIMEUNPACK_VECTOR_LEVEL names a level
    that this processor lacks: the tool would fall back to a level that
    another run already covers. MIMEUNPACK_VECTOR_LEVELS_TOOL (set by ctest)
    lists the levels offered."""
    level = os.environ.get("MIMEUNPACK_VECTOR_LEVEL")
    tool = os.environ.get("MIMEUNPACK_VECTOR_LEVELS_TOOL")
    if not level or not tool:
        return
    offered = subprocess.run([tool], stdout=subprocess.PIPE, check=True,
                             timeout=TIMEOUT_SECONDS).stdout.split()
    if level.encode() not in offered:
        print("skipped: this processor has no %s level (it offers %s)"
              % (level, b", ".join(offered).decode()))
        sys.exit(SKIPPED)


def main():
    """unittest.main() taking the binary path from argv[1] when given."""
    global _binary
    exit_if_level_missing()
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        _binary = sys.argv.pop(1)
    unittest.main()
