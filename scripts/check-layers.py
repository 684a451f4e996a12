#!/usr/bin/env python3
"""Checks that the product folders include only downward.

The layers, top to bottom: app, server, group, addrspace, rtdb, then values and com side by side
(neither includes the other), and idl under all of them. A file may include its own folder and any
folder of a lower layer; anything else is reported and the check fails. tools/ and tests/ may
include anything and are not checked.

Usage: check-layers.py [SOURCE-ROOT]   (default: the checkout this script lies in)
"""
import pathlib
import re
import sys

LAYERS = [["app"], ["server"], ["group"], ["addrspace"], ["rtdb"], ["values", "com"], ["idl"]]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
SOURCES = {".h", ".hpp", ".c", ".cpp", ".rc"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def folder_of(root, path):
    """The product folder a path inside the checkout belongs to, or None."""
    try:
        first = path.resolve().relative_to(root).parts[0]
    except (ValueError, IndexError):
        return None
    return first if first in RANK else None


def target_of(root, source, name):
    """The product folder an include names: by its first part ("group/opc_group.h"), else
    beside the including file, else in idl/; None for generated and system headers."""
    first = pathlib.PurePosixPath(name).parts[0]
    if first in RANK and (root / name).exists():
        return first
    beside = source.parent / name
    if beside.exists():
        return folder_of(root, beside)
    if (root / "idl" / name).exists():
        return "idl"
    return None


def allowed(source_folder, target_folder):
    if source_folder == target_folder:
        return True
    return RANK[target_folder] > RANK[source_folder]


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent).resolve()
    violations = []
    checked = 0
    for folder in RANK:
        for source in sorted((root / folder).rglob("*")):
            if source.suffix not in SOURCES or not source.is_file():
                continue
            checked += 1
            for number, line in enumerate(source.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = target_of(root, source, match.group(1))
                if target is None or allowed(folder, target):
                    continue
                below = [f for f in RANK if RANK[f] > RANK[folder]]
                violations.append(f"{source.relative_to(root)}:{number}: includes \"{match.group(1)}\" ({target}/); "
                                  f"{folder}/ may include only itself and {', '.join(below)}")
    if checked == 0:
        print(f"check-layers: no sources under {root}", file=sys.stderr)
        return 2
    for v in violations:
        print(v, file=sys.stderr)
    if violations:
        print(f"check-layers: {len(violations)} include(s) run up a layer", file=sys.stderr)
        return 1
    print(f"check-layers: {checked} files, every include runs downward")
    return 0


if __name__ == "__main__":
    sys.exit(main())
