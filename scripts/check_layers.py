#!/usr/bin/env python3
"""Checks that the folders of src/ include one another only downwards, in the
layer order declared here, and prints the include graph. Fails on an include
that goes up or sideways, and on a folder that is in no layer."""

import pathlib
import re
import sys

# The layers of src/, top to bottom: a folder may include the folders of the
# layers below its own, and none of its own layer or above.
LAYERS = [
    ["cli"],                       # entry, dispatch, usage screen
    ["modes", "posix", "win32"],   # the jobs; the platform services they never see
    ["search", "winereg"],         # the search; Wine's registry file format
    ["console", "registry"],       # the two boundaries and their portable rules
    ["base"],                      # helpers with no dependencies
]
LAYER_OF = {folder: depth for depth, layer in enumerate(LAYERS) for folder in layer}

src = pathlib.Path(__file__).resolve().parent.parent / "src"
edges = {}
faults = []
for path in sorted(src.rglob("*")):
    if path.suffix not in (".h", ".cc"):
        continue
    folder = path.parent.relative_to(src).as_posix()
    if folder not in LAYER_OF:
        faults.append(f"src/{folder} is in no layer of {pathlib.Path(__file__).name}")
        LAYER_OF[folder] = -1  # reported once
        continue
    for header, target in re.findall(r'^#include "(([^"/]+)/[^"]+)"', path.read_text(), re.M):
        if target == folder:
            continue
        edges.setdefault(folder, set()).add(target)
        if target not in LAYER_OF:
            faults.append(f"{path.relative_to(src.parent)} includes {header}: {target} is in no layer")
        elif LAYER_OF[target] <= LAYER_OF[folder]:
            way = "sideways" if LAYER_OF[target] == LAYER_OF[folder] else "up"
            faults.append(f"{path.relative_to(src.parent)} includes {header}: {way}")

for folder in sorted(edges):
    print(f"{folder} -> {', '.join(sorted(edges[folder]))}")
for fault in faults:
    print(fault, file=sys.stderr)
sys.exit(1 if faults else 0)
