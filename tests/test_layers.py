"""The repository's folders are its layers, and every include goes down them, by path from its root:
- libs/ (root libs/): its folders in the order libs/CMakeLists.txt states; none includes the library or a tool;
- src/ (root src/): the library; it includes its own folders, libs/ and the public header, never a tool;
- tools/wavfx/ (root tools/wavfx/): its folders in the order its CMakeLists.txt states, libs/ and, from
  work/Library.cpp alone, the public header; never the library's own sources.
The generated sources are read too (their folder is their layer)."""
import os
import re
import sys

top, generated = sys.argv[1], sys.argv[2:]


def order(cmake, first=""):
    with open(os.path.join(top, cmake)) as f:
        line = re.search(r"^#\s+%s((?:\w+ ?)+)$" % re.escape(first), f.read(), re.M).group(1)
    return line.split()


LIBS = order("libs/CMakeLists.txt")
WAVFX = order("tools/wavfx/CMakeLists.txt", "main.cpp ")
SRC = sorted(d for d in os.listdir(os.path.join(top, "src")) if os.path.isdir(os.path.join(top, "src", d)))
PUBLIC = "VelorikWAVDistortion.h"


def check(relative, layer, target):
    """What is wrong with `relative` (in `layer` of its tree) including `target`, or None."""
    head = target.split("/")[0] if "/" in target else None
    tree = relative.split("/")[0]
    if tree == "libs":
        if head not in LIBS:
            return "libs/ includes only libs/"
        return "climbs from %s to %s" % (layer, head) if LIBS.index(head) < LIBS.index(layer) else None
    if tree == "src":
        if target == PUBLIC or head in LIBS or head in SRC:
            return None
        return "the library includes its own folders, libs/ and the public header"
    if target == PUBLIC:
        return None if relative == "tools/wavfx/work/Library.cpp" else "only work/Library.cpp talks to the library"
    if head in LIBS:
        return None
    if head not in WAVFX:
        return "an include names its layer's folder"
    return "climbs from %s to %s" % (layer, head) if layer != "main.cpp" and WAVFX.index(head) < WAVFX.index(layer) else None


def sources():
    for tree, root in (("libs", "libs"), ("src", "src"), ("tools", "tools/wavfx")):
        for base, _, names in os.walk(os.path.join(top, root)):
            for name in names:
                if name.endswith((".cpp", ".h")):
                    path = os.path.join(base, name)
                    yield path, os.path.relpath(path, top).replace(os.sep, "/"), root
    for path in generated:  # tools/wavfx's, from its build folder
        inner = path.replace(os.sep, "/").split("/tools/wavfx/", 1)[1]
        yield path, "tools/wavfx/" + inner, "tools/wavfx"


faults = []
for path, relative, root in sources():
    inner = relative[len(root) + 1:]
    layer = inner.split("/")[0] if "/" in inner else "main.cpp"
    with open(path) as f:
        for number, line in enumerate(f, 1):
            match = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
            if match:
                fault = check(relative, layer, match.group(1))
                if fault:
                    faults.append("%s:%d: %s (%s)" % (relative, number, match.group(1), fault))
if faults:
    print("\n".join(faults))
    print("0 passed, %d failed" % len(faults))
    sys.exit(1)
print("every include goes down the layers: libs %s; src; tools/wavfx %s" % (" > ".join(LIBS), " > ".join(WAVFX)))
