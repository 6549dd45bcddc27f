#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks what libmailbroker.so asks of the system and what it offers.

NEEDED may name only the C library (and libm, the dynamic loader): the C++
runtime is linked in and hidden, and nothing of inih, GMime or libcurl may
come along. The dynamic symbols the library defines must be exactly the
functions of the installed header, each under the version node MAILBROKER_1;
no C++ runtime symbol may leak out.

Usage: check_abi.py LIBRARY HEADER
"""
import re
import subprocess
import sys

ALLOWED_NEEDED = {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"}
NODE = "MAILBROKER_1"


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def main():
    library, header = sys.argv[1], sys.argv[2]
    faults = []

    dynamic = run("readelf", "-dW", library)
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)
    soname = re.findall(r"\(SONAME\)\s+Library soname: \[([^\]]+)\]", dynamic)
    print("NEEDED: " + " ".join(needed))
    print("SONAME: " + " ".join(soname))
    for name in needed:
        if name not in ALLOWED_NEEDED:
            faults.append(f"NEEDED {name}: only the C library may be needed")
    if "libc.so.6" not in needed:
        faults.append("NEEDED does not name libc.so.6")
    if soname != ["libmailbroker.so.1"]:
        faults.append(f"SONAME is {soname}, not libmailbroker.so.1")

    with open(header, encoding="utf-8") as f:
        text = f.read()
    declared = set(re.findall(r"MAILBROKER_API\s+[^;(]*?\b(mailbroker_\w+)\s*\(", text, re.S))
    if not declared:
        faults.append("the header declares no MAILBROKER_API function")

    # Defined dynamic symbols (not UND), with their version after '@'.
    exported = {}
    for line in run("readelf", "--dyn-syms", "-W", library).splitlines():
        fields = line.split()
        if len(fields) < 8 or not fields[0].endswith(":") or fields[0] == "Num:":
            continue
        ndx, name = fields[6], fields[7]
        if ndx == "UND":
            continue
        base, _, version = name.partition("@")
        version = version.lstrip("@")
        if fields[3] == "FILE" or (base == NODE and fields[3] == "OBJECT" and fields[2] == "0"):
            continue  # the version node's own definition
        exported[base] = version
    print(f"exported: {len(exported)} symbols; the header declares {len(declared)} functions")
    for name, version in sorted(exported.items()):
        if not name.startswith("mailbroker_"):
            faults.append(f"exported {name}: not part of the C interface")
        elif version != NODE:
            faults.append(f"exported {name} carries version '{version}', not {NODE}")
    for name in sorted(declared - exported.keys()):
        faults.append(f"{name} is declared in the header but not exported")
    for name in sorted(exported.keys() - declared):
        if name.startswith("mailbroker_"):
            faults.append(f"{name} is exported but not declared in the header")

    for fault in faults:
        print("FAIL: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
