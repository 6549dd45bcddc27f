#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Fails when a source file includes a header from a folder its row of the
README's layering table does not list under "may include".

Each row names a folder (`pal/`, `provider/store/`), what it holds, and the
folders it may include besides itself. A file belongs to the longest folder
that contains it, and so does an included header: provider/store/ is a row of
its own, apart from provider/. "anything" lifts the check for a folder.
Includes are written from the source root ("pal/win32.h"), so every quoted
include whose path starts with a folder of the table is checked.

Usage: check_layering.py [ROOT]   (default: the repository holding this script)
"""
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
TABLE_HEADING = "## Layering"
ROW = re.compile(r"^\|\s*`([^`]+/)`\s*\|[^|]*\|\s*(.*?)\s*\|\s*$")
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]+"([^"]+)"', re.MULTILINE)
SOURCES = (".h", ".hpp", ".c", ".cc", ".cpp")


def read_table():
    lines = (ROOT / "README.md").read_text(encoding="utf-8").splitlines()
    try:
        start = lines.index(TABLE_HEADING)
    except ValueError:
        sys.exit(f"check_layering: README.md has no '{TABLE_HEADING}' section")
    rows = {}
    for line in lines[start + 1:]:
        if line.startswith("## "):
            break
        match = ROW.match(line)
        if not match:
            continue
        folder, allowed = match.groups()
        if allowed.strip() == "anything":
            rows[folder] = None
        else:
            rows[folder] = set(re.findall(r"`([^`]+/)`", allowed)) | {folder}
    if not rows:
        sys.exit("check_layering: the layering table has no rows")
    return rows


def owner(path, rows):
    best = None
    for folder in rows:
        if path.startswith(folder) and (best is None or len(folder) > len(best)):
            best = folder
    return best


def tracked_sources():
    out = subprocess.run(["git", "-C", str(ROOT), "ls-files", "--cached", "--others",
                          "--exclude-standard"], check=True, capture_output=True, text=True)
    return [p for p in out.stdout.splitlines() if p.endswith(SOURCES)]


def main():
    rows = read_table()
    faults = []
    unlisted = set()
    for path in tracked_sources():
        folder = owner(path, rows)
        if folder is None:
            top = path.split("/", 1)[0]
            if "/" in path:
                unlisted.add(top + "/")
            continue
        allowed = rows[folder]
        if allowed is None:
            continue
        text = (ROOT / path).read_text(encoding="utf-8", errors="replace")
        for match in INCLUDE.finditer(text):
            target = owner(match.group(1), rows)
            if target is not None and target not in allowed:
                line = text.count("\n", 0, match.start()) + 1
                faults.append(f"{path}:{line}: includes {match.group(1)}, "
                              f"but {folder} may not include {target}")
    for top in sorted(unlisted):
        faults.append(f"{top}: holds sources but has no row in the layering table")
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_layering: {len(faults)} include(s) against the layering table in README.md")
        return 1
    print(f"check_layering: {len(rows)} folders, every include follows the table")
    return 0


if __name__ == "__main__":
    sys.exit(main())
