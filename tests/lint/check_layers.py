#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder above its own, or when folders include each
other in a cycle. The layers, lowest first; a file may include its own folder and any lower layer:

  0 platform (and its implementations platform/win32, platform/posix)
  1 log
  2 discovery
  3 guard, descriptor
  4 applicability
  5 installer
  6 app, result
  7 companion

Usage: check_layers.py <source-dir>   (the folder that holds src/)
"""
import pathlib
import re
import sys

LAYERS = {
    "platform": 0, "log": 1, "discovery": 2, "guard": 3, "descriptor": 3,
    "applicability": 4, "installer": 5, "app": 6, "result": 6, "companion": 7,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/', re.MULTILINE)


def folder_of(path, src):
    return path.relative_to(src).parts[0]


def find_cycle(edges):
    """A list of folders that include each other in a circle, or None."""
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == "open":
                return trail[trail.index(nxt):] + [nxt] if nxt in trail else [node, nxt]
            if nxt not in state:
                found = visit(nxt, trail + [nxt])
                if found:
                    return found
        state[node] = "done"
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def check(src):
    problems = []
    edges = {}
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".in") or not path.is_file():
            continue
        own = folder_of(path, src)
        if own not in LAYERS:
            problems.append(f"{path.relative_to(src)}: folder '{own}' has no layer; add it to LAYERS")
            continue
        for included in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            if included == own:
                continue
            if included not in LAYERS:
                problems.append(f"{path.relative_to(src)}: includes from '{included}', which has no layer")
                continue
            edges.setdefault(own, set()).add(included)
            if LAYERS[included] >= LAYERS[own]:
                problems.append(f"{path.relative_to(src)}: '{own}' (layer {LAYERS[own]}) includes "
                                f"'{included}' (layer {LAYERS[included]})")
    cycle = find_cycle(edges)
    if cycle:
        problems.append("folders include each other: " + " -> ".join(cycle))
    return problems


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    src = pathlib.Path(sys.argv[1]) / "src"
    problems = check(src)
    for problem in problems:
        print(problem)
    print(f"layers: {len(problems)} problem(s) in {src}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
