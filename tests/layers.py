#!/usr/bin/env python3
"""The include scan: every file of src may include headers only from its
own folder and from the folders its library declares (layers.txt, written
by the build from the libraries' declarations), and from the folders below
those. The link checks of the build catch calls that run upward; this
catches the includes that bring only types, which link either way.

    layers.py          scan src against $VELMORA_BUILD_DIR/layers.txt
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VELMORA_BUILD_DIR", os.path.join(ROOT, "build"))
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_layers(path):
    declared = {}
    for line in open(path):
        folder, _, below = line.partition(":")
        if folder.strip():
            declared[folder.strip()] = below.split()
    allowed = {}
    for folder in declared:
        seen, stack = {folder}, [folder]
        while stack:
            for below in declared.get(stack.pop(), []):
                if below not in seen:
                    seen.add(below)
                    stack.append(below)
        allowed[folder] = seen
    return allowed


def folder_of(relative, folders):
    """The longest folder of the table that holds relative ("jobs/zip" for
    "jobs/zip/zip_reader.h"); None when none does."""
    best = None
    for folder in folders:
        if relative.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def main():
    allowed = read_layers(os.path.join(BUILD, "layers.txt"))
    faults = []
    src = os.path.join(ROOT, "src")
    for base, _, names in os.walk(src):
        for name in sorted(names):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(base, name)
            relative = os.path.relpath(path, src).replace(os.sep, "/")
            own = folder_of(relative, allowed)
            if own is None:
                continue
            for included in INCLUDE.findall(open(path, encoding="utf-8").read()):
                target = folder_of(included, allowed)
                if target is not None and target not in allowed[own]:
                    faults.append("%s includes %s: %s may use only %s" %
                                  (relative, included, own, " ".join(sorted(allowed[own]))))
    for fault in faults:
        print("FAIL " + fault)
    print("%d includes that run upward or sideways" % len(faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
