#!/usr/bin/env python3
"""Checks every #include of the source folders against the layer order.

A folder may include its own files and the folders before it in LAYERS; an
include of a later folder, or of Qt from an engine folder, is reported with
its file and line. Exits 1 when anything is reported.
"""
import pathlib
import re
import sys

# In order: each may include itself and those before it (the file-system
# folders count as fs). cli and gui sit on the whole engine, not on each other.
LAYERS = ["core", "device", "partition", "advanced", "fs", "carve", "scan"]
FRONT_ENDS = ["cli", "gui"]
ENGINE_FOLDERS = set(LAYERS)

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^Q[A-Za-z]+$|^Qt[A-Za-z]*/")


def layer_of(path: str):
    top = path.split("/", 1)[0]
    if top in ENGINE_FOLDERS or top in FRONT_ENDS:
        return top
    return None


def allowed(source_layer: str, target_layer: str) -> bool:
    if source_layer == target_layer:
        return True
    if source_layer in FRONT_ENDS:
        return target_layer in ENGINE_FOLDERS
    if target_layer in FRONT_ENDS:
        return False
    return LAYERS.index(target_layer) < LAYERS.index(source_layer)


def check(root: pathlib.Path) -> list[str]:
    problems = []
    for folder in LAYERS + FRONT_ENDS:
        for file in sorted((root / folder).rglob("*")):
            if file.suffix not in (".h", ".cpp", ".in"):
                continue
            relative = file.relative_to(root).as_posix()
            source_layer = layer_of(relative)
            for number, line in enumerate(file.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                quote, target = match.groups()
                where = f"{relative}:{number}"
                if quote == "<":
                    if source_layer in ENGINE_FOLDERS and QT_HEADER.match(target):
                        problems.append(f"{where}: engine folder includes Qt <{target}>")
                    continue
                target_layer = layer_of(target)
                if target_layer is None:
                    problems.append(f'{where}: "{target}" is not in a source folder')
                elif not allowed(source_layer, target_layer):
                    problems.append(f'{where}: {source_layer}/ may not include "{target}"')
    return problems


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) against the layer order", file=sys.stderr)
        return 1
    print("layers: every include follows the order " + " < ".join(LAYERS) + " < cli, gui")
    return 0


if __name__ == "__main__":
    sys.exit(main())
