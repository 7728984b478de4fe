#!/usr/bin/env python3
"""Keeps the layers in order (docs/architecture.md, "Layers").

Reads every #include "..." in src/, app/ and tools/ and fails, naming file and line, on
  - an include from a lower layer into a higher one, and
  - a loop: a unit that reaches itself through its includes (two units that include each other, or more).
A unit is a file without its extension: X.h and X.cpp are one unit. ctest runs this as the test
"include-layers"; by hand: python3 scripts/check-includes.py [--layers] [ROOT].
--layers prints which layers each layer includes (the "Includes today" column of the docs).
"""
import os
import re
import sys

# Bottom to top. A file may include its own layer and the layers before it. src/<folder> is a layer;
# app/ and tools/ are the programs on top.
LAYERS = ["base", "platform", "support", "time", "items", "storage", "ebayapi", "watchlist", "dialogs",
          "host", "programs"]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer_of(path):  # path relative to the root, with "/"
    top, _, rest = path.partition("/")
    if top in ("app", "tools"):
        return "programs"
    return rest.partition("/")[0] if top == "src" else None


def main(argv):
    args = [a for a in argv if not a.startswith("--")]
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), ".."))
    files = []
    for top in ("src", "app", "tools"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            files += [os.path.relpath(os.path.join(folder, n), root).replace(os.sep, "/")
                      for n in names if n.endswith((".h", ".hpp", ".cpp"))]
    problems = []
    edges = {}  # unit -> {unit: (file, line, text)}, the first include that makes the edge
    uses = {}   # layer -> layers it includes
    for path in sorted(files):
        layer = layer_of(path)
        if layer not in LAYERS:
            problems.append(f"{path}:1: {os.path.dirname(path)}/ is in no layer: add it to LAYERS in "
                            "scripts/check-includes.py")
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                # As the compiler looks: beside the file first, then in src/ (the library's include folder).
                target = None
                for base in (os.path.dirname(path), "src"):
                    candidate = os.path.normpath(os.path.join(base, m.group(1))).replace(os.sep, "/")
                    if os.path.isfile(os.path.join(root, candidate)):
                        target = candidate
                        break
                if target is None or layer_of(target) not in LAYERS:
                    continue  # not ours (third-party, tests)
                to = layer_of(target)
                if LAYERS.index(to) > LAYERS.index(layer):
                    problems.append(f"{path}:{number}: includes {m.group(1)}: layer {to} is above {layer}")
                if to != layer:
                    uses.setdefault(layer, set()).add(to)
                unit, target_unit = os.path.splitext(path)[0], os.path.splitext(target)[0]
                if unit != target_unit:
                    edges.setdefault(unit, {}).setdefault(target_unit, (path, number, m.group(1)))

    # An include u -> v is part of a loop when v leads back to u; the way back names each step.
    def way(start, goal):
        came = {start: None}
        queue = [start]
        for unit in queue:
            if unit == goal:
                steps = []
                while came[unit] is not None:
                    steps.append(edges[came[unit]][unit])
                    unit = came[unit]
                return steps[::-1]
            for nxt in edges.get(unit, {}):
                if nxt not in came:
                    came[nxt] = unit
                    queue.append(nxt)
        return None

    for unit in sorted(edges):
        for target, (path, number, text) in sorted(edges[unit].items()):
            back = way(target, unit)
            if back:
                steps = ", ".join(f"{p}:{n} includes {t}" for p, n, t in back)
                problems.append(f"{path}:{number}: includes {text}, which leads back to it: {steps}")

    if "--layers" in argv:
        for layer in LAYERS:
            below = sorted(uses.get(layer, ()), key=LAYERS.index, reverse=True)
            print(f"{layer}: {', '.join(below) or '-'}")
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) break the rule: layers {' < '.join(LAYERS)}, each including"
              " only its own and lower ones, and no loop (docs/architecture.md)")
        return 1
    print(f"{len(files)} files: every include points down ({' < '.join(LAYERS)}) and none leads back")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
