#!/usr/bin/env python3
"""Checks that includes point down: a folder includes only folders beneath it, and within a
folder no unit (a .h and its .cpp) reaches itself again through what it includes.

check-includes.py [ROOT]   prints each include that runs upward and exits 1 when there is one.
"""
import os
import re
import sys

# Lower numbers lie beneath higher ones; folders of one level do not include each other.
LEVELS = {"core": 0, "files": 1, "templates": 1, "codec": 2, "strong": 2, "archiver": 2,
          "cli": 3, "app": 3}
INCLUDE = re.compile(r'^#include "([^"]+)"', re.M)


def sources(root, folder):
    for where, _, names in os.walk(os.path.join(root, folder)):
        for name in sorted(names):
            if name.endswith((".h", ".cpp")):
                yield os.path.join(where, name)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    homes = {}  # header name -> folders that hold one of that name
    for folder in LEVELS:
        for path in sources(root, folder):
            if path.endswith(".h"):
                homes.setdefault(os.path.basename(path), set()).add(folder)
    problems = []
    for folder, level in LEVELS.items():
        units = {}  # unit -> units of this folder it includes
        for path in sources(root, folder):
            unit = os.path.splitext(os.path.relpath(path, root))[0]
            with open(path, encoding="utf-8") as f:
                included = INCLUDE.findall(f.read())
            for header in map(os.path.basename, included):
                held = homes.get(header, set())
                if not held or folder in held:
                    target = os.path.join(folder, os.path.splitext(header)[0])
                    if held and target != unit:
                        units.setdefault(unit, set()).add(target)
                    continue
                if all(LEVELS[other] >= level for other in held):
                    problems.append(f"{os.path.relpath(path, root)} includes {header} "
                                    f"from {', '.join(sorted(held))}")
        # Within the folder: an include from a unit to one that reaches it again runs upward.
        for unit, targets in sorted(units.items()):
            for target in sorted(targets):
                seen, todo = set(), [target]
                while todo:
                    current = todo.pop()
                    for step in units.get(current, ()):
                        if step not in seen:
                            seen.add(step)
                            todo.append(step)
                if unit in seen:
                    problems.append(f"{unit} includes {target}, which includes it again")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


sys.exit(main())
