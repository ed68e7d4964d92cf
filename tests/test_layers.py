"""wavfx's folders are its layers: each source includes only its own folder and those below it,
in the order tools/wavfx/CMakeLists.txt states, by path from one root; one file talks to the library."""
import os
import re
import sys

root = sys.argv[1]
with open(os.path.join(root, "CMakeLists.txt")) as f:
    order = re.search(r"^#\s+main\.cpp ((?:\w+ ?)+)$", f.read(), re.M).group(1).split()
rank = {folder: i for i, folder in enumerate(order)}
library_headers = ("wav/", "text/", "distortion/")  # the library's format facts wavfx compiles in
faults = []
for base, _, names in os.walk(root):
    for name in names:
        if not name.endswith((".cpp", ".h")):
            continue
        path = os.path.join(base, name)
        relative = os.path.relpath(path, root).replace(os.sep, "/")
        layer = relative.split("/")[0] if "/" in relative else "main.cpp"
        with open(path) as f:
            for number, line in enumerate(f, 1):
                match = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                if not match:
                    continue
                target = match.group(1)
                where = "%s:%d: %s" % (relative, number, target)
                if target == "VelorikWAVDistortion.h":
                    if relative != "work/Library.cpp":
                        faults.append(where + " (only work/Library.cpp talks to the library)")
                elif target.startswith(library_headers):
                    pass
                elif target.split("/")[0] not in rank:
                    faults.append(where + " (an include names its layer's folder)")
                elif layer != "main.cpp" and rank[target.split("/")[0]] < rank[layer]:
                    faults.append(where + " (climbs from %s to %s)" % (layer, target.split("/")[0]))
if faults:
    print("\n".join(faults))
    print("0 passed, %d failed" % len(faults))
    sys.exit(1)
print("every include goes down the layers %s" % " > ".join(order))
