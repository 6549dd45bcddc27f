#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Every source file of the repository names its licence in its first lines.

  spdx.py          lists the tracked source files without the line; exits 1 if any
  spdx.py --add    adds the line to them: first, or after a shebang line

C and C++ files take `// SPDX-License-Identifier: MIT`; Python, shell and
CMake files the same after `#`. Seed inputs, test data and documents are not
source and are left alone.
"""
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TAG = "SPDX-License-Identifier: MIT"
SLASHES = (".c", ".cc", ".cpp", ".h", ".hpp")
HASH = (".py", ".sh", ".cmake")
# Folders whose files are inputs for tests and fuzzers, not source.
DATA = ("fuzz/seeds/",)


def comment_for(path):
    name = path.name
    if name.endswith(SLASHES):
        return "// " + TAG
    if name.endswith(HASH) or name == "CMakeLists.txt":
        return "# " + TAG
    return None


def sources():
    listed = subprocess.run(["git", "-C", str(ROOT), "ls-files", "-z"], capture_output=True,
                            check=True).stdout.decode().split("\0")
    for name in listed:
        if not name or name.startswith(DATA):
            continue
        path = ROOT / name
        line = comment_for(path)
        if line is not None and path.is_file():
            yield path, line


def has_tag(text):
    return any(TAG in line for line in text.splitlines()[:3])


def add(path, line):
    text = path.read_text(encoding="utf-8")
    if text.startswith("#!"):
        first, _, rest = text.partition("\n")
        text = first + "\n" + line + "\n" + rest
    else:
        text = line + "\n" + text
    path.write_text(text, encoding="utf-8")


def main():
    adding = sys.argv[1:] == ["--add"]
    if sys.argv[1:] and not adding:
        sys.exit(__doc__)
    missing = [(p, l) for p, l in sources() if not has_tag(p.read_text(encoding="utf-8"))]
    if adding:
        for path, line in missing:
            add(path, line)
        print(f"spdx: added the licence line to {len(missing)} files")
        return
    for path, _ in missing:
        print(f"spdx: {path.relative_to(ROOT)} has no '{TAG}' line in its first three")
    if missing:
        sys.exit(1)
    print("spdx: every source file names its licence")


if __name__ == "__main__":
    main()
