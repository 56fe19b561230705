#!/usr/bin/env python3
"""Checks that every folder of the launcher includes only its own headers and
those of the layers its CMake target links directly.

Usage: check_layering.py TABLE SOURCE_ROOT

TABLE holds one line per layer, "folder target: allowed folders" (written by
the build from the targets' link lists). Every .h/.c/.cpp file below a layer's
folder (sub-folders that are layers of their own excepted) is read; each
`#include "a/b.h"` whose path lies in another layer's folder must name an
allowed one. Violations are printed as "file:line: ..." and the exit status
is 1; otherwise 0.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_table(path):
    layers = {}
    with open(path, encoding="utf-8") as table:
        for line in table:
            line = line.strip()
            if not line:
                continue
            head, _, allowed = line.partition(":")
            folder, target = head.split()
            layers[folder] = (target, set(allowed.split()))
    return layers


def owner(path, layers):
    """The layer whose folder is the longest prefix of `path`, or None."""
    best = None
    for folder in layers:
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def check(layers, root):
    problems = []
    top_folders = {folder.split("/")[0] for folder in layers}
    for folder, (target, allowed) in sorted(layers.items()):
        for directory, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not name.endswith((".h", ".c", ".cpp")):
                    continue
                path = os.path.join(directory, name)
                relative = os.path.relpath(path, root)
                if owner(relative, layers) != folder:
                    continue
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, text in enumerate(source, 1):
                        match = INCLUDE.match(text)
                        if not match or "/" not in match.group(1):
                            continue
                        included = match.group(1)
                        layer = owner(included, layers)
                        if layer is None:
                            if included.split("/")[0] in top_folders:
                                problems.append(f"{relative}:{number}: includes {included}, "
                                                "which belongs to no library")
                            continue
                        if layer != folder and layer not in allowed:
                            problems.append(f"{relative}:{number}: {folder}/ ({target}) includes {included}, "
                                            f"but {target} does not link the library of {layer}/")
    return problems


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    layers = read_table(sys.argv[1])
    problems = check(layers, sys.argv[2])
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) break the layering")
        return 1
    print(f"layering holds for {len(layers)} libraries")
    return 0


if __name__ == "__main__":
    sys.exit(main())
