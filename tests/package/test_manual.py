"""The manual page carries every message of the table in docs/messages.md,
with its status, and groff formats it without a warning."""

import re
import shutil
import subprocess
import sys


def main():
    source_dir = sys.argv[1]
    with open(source_dir + "/docs/messages.md", encoding="utf-8") as f:
        messages = f.read()
    with open(source_dir + "/docs/mimeunpack.1", encoding="utf-8") as f:
        page = f.read()
    # What a reader of the rendered page sees, near enough for a search.
    text = re.sub(r"\\f[BIRP]", "", page).replace("\\-", "-")

    table = messages.split("# Messages and exit statuses")[1].split("\n## ")[0]
    rows = [l for l in table.splitlines()
            if l.startswith("| ") and not l.startswith("| Printed")]
    problems = []
    if len(rows) < 15:
        problems.append("the message table has only %d rows" % len(rows))
    for row in rows:
        printed, _, status = [c.strip() for c in row.strip("|").split(" | ")]
        for piece in re.findall(r"`([^`]+)`", printed):
            if piece not in text:
                problems.append("manual lacks %r" % piece)
        m = re.match(r"(-\d) \((\d+)\)", status)
        if m:
            # The status follows the message's entry, before the next one.
            if printed.startswith("("):
                first = [printed.replace("`", "")]
            else:
                first = re.findall(r"`([^`]+)`", printed)
            at = text.find(first[0])
            entry = text[at:text.find(".TP", at)] if at >= 0 else ""
            if "Status %s (%s)" % m.groups() not in entry:
                problems.append("manual gives %r no status %s" %
                                (first[0], status))
    if shutil.which("groff"):
        run = subprocess.run(["groff", "-ww", "-z", "-man",
                              source_dir + "/docs/mimeunpack.1"],
                             capture_output=True, text=True)
        if run.returncode or run.stderr:
            problems.append("groff warns: " + run.stderr)
    return problems


if __name__ == "__main__":
    found = main()
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
