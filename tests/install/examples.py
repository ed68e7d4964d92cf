#!/usr/bin/env python3
"""Writes each C example with a main() from the README, docs/api.md and the
section-3 manual pages as N.c, with N.args: one line of arguments per
"Usage: ./name ARGS" line in it (one empty line where there is none)."""
import glob
import os
import re
import sys

root, out = sys.argv[1], sys.argv[2]


def roff_code(text):
    """The code between .EX and .EE, unescaped."""
    for block in re.findall(r"^\.EX\n(.*?)^\.EE$", text, re.S | re.M):
        yield block.replace("\\e", "\\").replace("\\-", "-").replace("\\(aq", "'").replace("\\&", "")


sources = []
for name in ("README.md", "docs/api.md"):
    with open(os.path.join(root, name), encoding="utf-8") as f:
        sources += [(name, code) for code in re.findall(r"^```c\n(.*?)^```$", f.read(), re.S | re.M)]
for page in sorted(glob.glob(os.path.join(root, "docs", "man", "*.3"))):
    with open(page, encoding="utf-8") as f:
        sources += [(os.path.basename(page), code) for code in roff_code(f.read())]

n = 0
for origin, code in sources:
    if not re.search(r"\bint main\(", code):
        continue
    n += 1
    with open(os.path.join(out, "example%d.c" % n), "w", encoding="utf-8") as f:
        f.write("/* from %s */\n%s" % (origin, code))
    usages = re.findall(r"Usage: \./\S+ (.*)", code)
    with open(os.path.join(out, "example%d.args" % n), "w", encoding="utf-8") as f:
        f.write("\n".join(usages or [""]) + "\n")
