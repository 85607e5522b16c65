"""README stays short and its commands stay the ones CI runs; every relative
link in README and docs/*.md leads to a file, and to a heading where it names
one; the pictures of docs/images stay small."""

import os
import re
import sys

README_MAX_LINES = 250
PICTURE_MAX_BYTES = 64 * 1024  # the pictures of docs/images, each


def anchor(heading):
    """The anchor a Markdown renderer gives a heading."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def headings(path):
    with open(path, encoding="utf-8") as f:
        text = re.sub(r"```.*?```", "", f.read(), flags=re.S)
    return {anchor(h) for h in re.findall(r"^#+ (.*)$", text, re.M)}


def link_problems(source_dir, page):
    problems = []
    with open(os.path.join(source_dir, page), encoding="utf-8") as f:
        text = re.sub(r"```.*?```", "", f.read(), flags=re.S)
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, fragment = target.partition("#")
        full = os.path.normpath(os.path.join(
            source_dir, os.path.dirname(page), path or os.path.basename(page)))
        if not os.path.isfile(full):
            problems.append("%s links to %s: no such file" % (page, target))
        elif fragment and full.endswith(".md") and \
                fragment not in headings(full):
            problems.append("%s links to %s: no such heading" % (page, target))
    return problems


def command_problems(source_dir, readme):
    """The test command of README is the one .ci/run runs word for word."""
    with open(os.path.join(source_dir, ".ci", "run"), encoding="utf-8") as f:
        ci = f.read()
    blocks = re.findall(r"^## (Try it|Run every test)\n.*?```sh\n(.*?)```",
                        readme, re.M | re.S)
    problems = []
    if [name for name, _ in blocks] != ["Try it", "Run every test"]:
        problems.append("README lacks its Try it or Run every test command")
    for name, command in blocks:
        if name == "Run every test" and command.strip() not in ci:
            problems.append("README's test command is not the one .ci/run "
                            "runs: " + command.strip())
    return problems


def main():
    source_dir = sys.argv[1]
    with open(os.path.join(source_dir, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    problems = []
    lines = readme.count("\n")
    if lines > README_MAX_LINES:
        problems.append("README has %d lines, more than %d" %
                        (lines, README_MAX_LINES))
    problems += command_problems(source_dir, readme)
    pages = ["README.md"] + sorted(
        "docs/" + n for n in os.listdir(os.path.join(source_dir, "docs"))
        if n.endswith(".md"))
    images = os.path.join(source_dir, "docs", "images")
    for name in sorted(os.listdir(images)):
        if os.path.getsize(os.path.join(images, name)) > PICTURE_MAX_BYTES:
            problems.append("docs/images/%s is larger than %d bytes" %
                            (name, PICTURE_MAX_BYTES))
    for page in pages:
        problems += link_problems(source_dir, page)
        if page != "README.md" and "](" + page + ")" not in readme:
            problems.append("README does not link to " + page)
    return problems


if __name__ == "__main__":
    found = main()
    for p in found:
        print("FAIL:", p)
    sys.exit(1 if found else 0)
