#!/usr/bin/env python3
"""Prints the include graph between the folders of src/ and fails if it has
a cycle: each folder may use only the folders below it."""

import pathlib
import re
import sys

src = pathlib.Path(__file__).resolve().parent.parent / "src"
edges = {}
for path in src.rglob("*"):
    if path.suffix not in (".h", ".cc"):
        continue
    folder = path.parent.relative_to(src).as_posix()
    for target in re.findall(r'^#include "([^"]+)/[^"/]+"', path.read_text(), re.M):
        if target != folder:
            edges.setdefault(folder, set()).add(target)

for folder in sorted(edges):
    print(f"{folder} -> {', '.join(sorted(edges[folder]))}")


def cycle_from(folder, trail):
    if folder in trail:
        return trail[trail.index(folder):] + [folder]
    for target in sorted(edges.get(folder, ())):
        found = cycle_from(target, trail + [folder])
        if found:
            return found
    return None


for folder in sorted(edges):
    cycle = cycle_from(folder, [])
    if cycle:
        print("cycle: " + " -> ".join(cycle), file=sys.stderr)
        sys.exit(1)
