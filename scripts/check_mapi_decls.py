#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Compares our MAPI declarations (mapi/*.h) with mingw-w64's MAPI headers.

Both are compiled with the mingw-w64 compiler, against the same <windows.h>,
so every type is the one Windows gives it. What is compared:

  values    every object-like macro both define whose expansion is an integer
            constant (codes, flags, property tags): its value, and its type's
            signedness and width
  guids     the interface identifiers and property sets both define
  vtables   every interface both declare: its methods in slot order, base
            interfaces first, and each method's type as the compiler mangles
            it (so typedef spellings do not matter, only the types they stand for)
  layouts   every structure both declare: sizeof, alignof and the offset of
            each member both name

The values are read without running anything: the generated program puts
them in a section of its own, which objcopy extracts; the signatures come from
nm's demangled names of functions that take each method's pointer type.

Known differences are listed in scripts/mapi_decls_allow.txt, one per line
with its reason; the check fails on any other difference, and on an allowed
difference that no longer occurs (so that the list cannot go stale).

  python3 scripts/check_mapi_decls.py [--build DIR] [--verbose]
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MINGW_INCLUDE = "/usr/share/mingw-w64/include"
MINGW_HEADERS = ["mapidefs.h", "mapix.h", "mapitags.h", "mapicode.h", "mapiguid.h"]
CXX = "x86_64-w64-mingw32-g++-posix"
OBJCOPY = "x86_64-w64-mingw32-objcopy"
NM = "x86_64-w64-mingw32-nm"
ALLOW_FILE = os.path.join(ROOT, "scripts", "mapi_decls_allow.txt")

OURS_PRELUDE = '#include "mapi/mapi.h"\n'
# The identifiers as constants the compiler can read (guiddef.h would only
# declare them, or define them as data initialised at run time).
MINGW_PRELUDE = (
    "#define WIN32_LEAN_AND_MEAN\n#include <windows.h>\n#include <objbase.h>\n"
    "#undef DEFINE_GUID\n"
    "#define DEFINE_GUID(n, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) "
    "constexpr GUID n = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}\n"
    # mapix.h includes mapiguid.h, which has no guard of its own without INITGUID.
    + "".join(f"#include <{h}>\n" for h in MINGW_HEADERS if h != "mapiguid.h")
)

# Identifiers an integer constant's expansion may hold besides numbers: casts.
TYPE_WORDS = {
    "ULONG", "LONG", "SCODE", "HRESULT", "DWORD", "UINT", "INT", "BYTE", "WORD",
    "USHORT", "SHORT", "ULONG_PTR", "LONG_PTR", "unsigned", "signed", "long",
    "int", "short", "char", "__int64", "LONGLONG", "ULONGLONG", "BOOL",
}
TOKEN = re.compile(r"0[xX][0-9a-fA-F]+[uUlL]*|\d+[uUlL]*|[A-Za-z_]\w*|<<|>>|[-+~|&^()*/%!]|\s+")


def run(cmd, **kw):
    result = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if result.returncode != 0:
        sys.stderr.write(f"$ {' '.join(cmd)}\n{result.stdout}{result.stderr}")
        raise SystemExit(2)
    return result.stdout


def macro_names(paths):
    names = set()
    for path in paths:
        with open(path, encoding="latin-1") as f:
            for line in f:
                m = re.match(r"\s*#\s*define\s+([A-Za-z_]\w*)(\(?)", line)
                if m and not m.group(2):
                    names.add(m.group(1))
    return names


def preprocess(prelude, text, workdir, name):
    src = os.path.join(workdir, name + ".cpp")
    with open(src, "w") as f:
        f.write(prelude + text)
    return run([CXX, "-std=c++20", "-E", "-P", f"-I{ROOT}", src])


def integer_expansions(prelude, names, workdir, side):
    """name -> expansion, for the names whose expansion is an integer constant."""
    # The name in quotes, where the preprocessor leaves it alone.
    probe = "".join(f'@@ "{n}" {n} @@end@@\n' for n in sorted(names))
    out = preprocess(prelude, probe, workdir, f"probe-{side}")
    found = {}
    for m in re.finditer(r'@@ "(\w+)"(.*?)@@end@@', out, re.S):
        name, expansion = m.group(1), " ".join(m.group(2).split())
        if expansion == name or not expansion:
            continue  # not defined on this side
        tokens = [t for t in TOKEN.findall(expansion) if not t.isspace()]
        if "".join(tokens) != expansion.replace(" ", ""):
            continue  # something the tokenizer does not know: not a plain constant
        words = [t for t in tokens if re.match(r"[A-Za-z_]", t)]
        if all(w in TYPE_WORDS for w in words) and any(re.match(r"\d", t) for t in tokens):
            found[name] = expansion
    return found


def guid_names(paths, pattern):
    names = set()
    for path in paths:
        with open(path, encoding="latin-1") as f:
            names.update(re.findall(pattern, f.read()))
    return names


def split_top(body, sep):
    parts, depth, cur = [], 0, []
    for ch in body:
        if ch in "{([":
            depth += 1
        elif ch in "})]":
            depth -= 1
        if ch == sep and depth == 0:
            parts.append("".join(cur))
            cur = []
        else:
            cur.append(ch)
    parts.append("".join(cur))
    return parts


def matching_brace(text, open_at):
    depth = 0
    for i in range(open_at, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return i
    return -1


def parse_records(code, tags=None):
    """name -> (kind, base, body) for struct/union definitions in preprocessed code;
    `tags`, when given, gets each struct tag that a typedef renames (tag -> name)."""
    records = {}
    for m in re.finditer(r"\b(typedef\s+)?(struct|union)\s+(\w+)?\s*(?::\s*public\s+(\w+)\s*)?\{", code):
        open_at = m.end() - 1
        close = matching_brace(code, open_at)
        if close < 0:
            continue
        body = code[open_at + 1:close]
        names = []
        if m.group(3):
            names.append(m.group(3))
        if m.group(1):
            after = re.match(r"\s*(\w+)", code[close + 1:])
            if after:
                names.append(after.group(1))
                if tags is not None and m.group(3) and m.group(3) != after.group(1):
                    tags[m.group(3)] = after.group(1)
        for name in names:
            records.setdefault(name, (m.group(2), m.group(4), body))
    return records


def member_names(body):
    names = []
    for decl in split_top(body, ";"):
        decl = re.sub(r"\{.*\}", " ", decl, flags=re.S)  # nested record bodies
        if "(" in decl or not decl.strip() or re.search(r"\b(typedef|static|virtual)\b", decl):
            continue
        for declarator in split_top(decl, ","):
            declarator = re.sub(r"\[[^\]]*\]", "", declarator).strip()
            m = re.search(r"(\w+)\s*$", declarator)
            if m and not m.group(1)[0].isdigit() and m.group(1) not in ("union", "struct"):
                names.append(m.group(1))
    return names


def methods(body):
    return re.findall(r"\bvirtual\b[^;{]*?\b(\w+)\s*\(", body)


def vtable(records, name):
    """Slot order: the base's slots, then each method the base does not have (a
    method declared again, as mingw-w64's macros do, keeps its base's slot)."""
    kind, base, body = records[name]
    if base and base in records:
        slots = vtable(records, base)
    elif base == "IUnknown":
        slots = ["QueryInterface", "AddRef", "Release"]
    else:
        slots = []
    for method in methods(body):
        if method not in slots:
            slots.append(method)
    return slots


def own_code(prelude, workdir, side, own_file):
    """The preprocessed text that comes from the MAPI headers of one side only."""
    src = os.path.join(workdir, f"code-{side}.cpp")
    with open(src, "w") as f:
        f.write(prelude)
    text = run([CXX, "-std=c++20", "-E", f"-I{ROOT}", src])
    kept, keep = [], False
    for line in text.splitlines():
        m = re.match(r'# \d+ "([^"]+)"', line)
        if m:
            keep = own_file(m.group(1))
            continue
        if keep:
            kept.append(line)
    # Calling conventions and other attributes say nothing of slots or layout
    # here (x64 has one convention), and would read as method names.
    return re.sub(r"__attribute__\s*\(\((?:[^()]|\([^()]*\))*\)\)", " ", "\n".join(kept))


def gather(side, prelude, workdir, value_names, own_file):
    code = own_code(prelude, workdir, side, own_file)
    tags = {}
    records = parse_records(code, tags)
    values = integer_expansions(prelude, value_names, workdir, side)
    return tags, records, values


def build_probe(prelude, values, guids, layouts, interfaces, records):
    out = [prelude, "#include <cstddef>\n#include <type_traits>\n"]
    out.append(
        "template <class T> constexpr unsigned long long mbBits(T v) {\n"
        "    return std::is_signed_v<T> ? (unsigned long long)(long long)v : (unsigned long long)v;\n"
        "}\n"
        "#define MB_VALUE(x) mbBits(x), std::is_signed_v<decltype(x)>, sizeof(x)\n"
    )
    entries = []
    for name in values:
        entries.append(f"MB_VALUE({name})")
    for name in guids:
        entries.append(
            f"(unsigned long long){name}.Data1, {name}.Data2, {name}.Data3, "
            + ", ".join(f"{name}.Data4[{i}]" for i in range(8))
        )
    for name, members in layouts:
        entries.append(f"sizeof({name}), alignof({name})")
        for member in members:
            entries.append(f"offsetof({name}, {member})")
    out.append(
        'extern "C" __attribute__((section(".mbdecl"), used)) const unsigned long long mbDecl[] = {\n    '
        + ",\n    ".join(entries + ["0"]) + "\n};\n"
    )
    # One function per method whose parameter is the method's pointer type:
    # the mangled name then spells the types out.
    for iface in interfaces:
        for method in sorted(set(methods(records[iface][2]))):
            out.append(
                f"void mbSig_{iface}_{method}(decltype(&{iface}::{method})) {{}}\n"
            )
    return "".join(out)


def compile_probe(text, workdir, side):
    src = os.path.join(workdir, f"probe-{side}-values.cpp")
    obj = src[:-4] + ".o"
    data = src[:-4] + ".bin"
    with open(src, "w") as f:
        f.write(text)
    run([CXX, "-std=c++20", "-c", "-w", f"-I{ROOT}", "-o", obj, src])
    run([OBJCOPY, "-O", "binary", "--only-section=.mbdecl", obj, data])
    with open(data, "rb") as f:
        raw = f.read()
    numbers = list(struct.unpack(f"<{len(raw) // 8}Q", raw[: len(raw) // 8 * 8]))
    sigs = {}
    for line in run([NM, "-C", obj]).splitlines():
        m = re.search(r"\bmbSig_(\w+?)_(\w+)\((.*)\)$", line)
        if m:
            sigs[(m.group(1), m.group(2))] = m.group(3)
    return numbers, sigs


def spelled(signature, tags):
    """A demangled signature with struct tags named by their typedef names
    (mingw-w64's _SPropValue is our SPropValue: the same type, named apart)."""
    if signature is None:
        return None
    return re.sub(r"\b\w+\b", lambda m: tags.get(m.group(0), m.group(0)), signature)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=None, help="folder for the generated files")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    workdir = args.build or tempfile.mkdtemp(prefix="mapi-decls-")
    os.makedirs(workdir, exist_ok=True)

    ours_files = sorted(
        os.path.join(ROOT, "mapi", f) for f in os.listdir(os.path.join(ROOT, "mapi")) if f.endswith(".h")
    )
    mingw_files = [os.path.join(MINGW_INCLUDE, h) for h in MINGW_HEADERS]
    common_macros = macro_names(ours_files) & macro_names(mingw_files)
    common_guids = sorted(
        guid_names(ours_files, r"MB_MAPI_OLE_IID\((\w+),")
        & guid_names(mingw_files, r"DEFINE_OLEGUID\((\w+),")
    )

    mapi_dir = os.path.join(ROOT, "mapi") + os.sep
    ours_tags, ours_records, ours_values = gather(
        "ours", OURS_PRELUDE, workdir, common_macros, lambda f: os.path.abspath(f).startswith(mapi_dir))
    mingw_tags, mingw_records, mingw_values = gather(
        "mingw", MINGW_PRELUDE, workdir, common_macros,
        lambda f: os.path.basename(f) in MINGW_HEADERS)
    values = sorted(set(ours_values) & set(mingw_values))

    def is_interface(records, name):
        kind, base, body = records[name]
        return bool(methods(body)) or name == "IUnknown"

    interfaces = sorted(
        n for n in set(ours_records) & set(mingw_records)
        if n.startswith("I") and is_interface(ours_records, n) and is_interface(mingw_records, n)
    )
    layouts = []
    for name in sorted(set(ours_records) & set(mingw_records)):
        if name in interfaces or name.startswith("_") or name in ("GUID", "IID", "FILETIME", "LARGE_INTEGER", "ULARGE_INTEGER"):
            continue
        ours_members = member_names(ours_records[name][2])
        mingw_members = member_names(mingw_records[name][2])
        layouts.append((name, [m for m in ours_members if m in mingw_members], ours_members, mingw_members))

    probe_layouts = [(n, common) for n, common, _, _ in layouts]
    ours_numbers, ours_sigs = compile_probe(
        build_probe(OURS_PRELUDE, values, common_guids, probe_layouts, interfaces, ours_records), workdir, "ours")
    mingw_numbers, mingw_sigs = compile_probe(
        build_probe(MINGW_PRELUDE, values, common_guids, probe_layouts, interfaces, mingw_records), workdir, "mingw")

    differences = {}  # key -> text

    def differ(key, text):
        differences[key] = text

    i = 0
    for name in values:
        ob, osg, osz = ours_numbers[i:i + 3]
        mb, msg, msz = mingw_numbers[i:i + 3]
        i += 3
        width = 8 * min(osz, msz)
        mask = (1 << width) - 1
        if (ob & mask) != (mb & mask):
            differ(f"value {name}", f"ours 0x{ob & mask:X}, mingw-w64 0x{mb & mask:X}")
        elif (osg, osz) != (msg, msz):
            def kind(s, z):
                return f"{'signed' if s else 'unsigned'} {8 * z}-bit"
            differ(f"signedness {name}", f"ours {kind(osg, osz)}, mingw-w64 {kind(msg, msz)}")
    for name in common_guids:
        o, m = ours_numbers[i:i + 11], mingw_numbers[i:i + 11]
        i += 11
        if o != m:
            differ(f"guid {name}", f"ours {o}, mingw-w64 {m}")
    for name, common, ours_members, mingw_members in layouts:
        count = 2 + len(common)
        o, m = ours_numbers[i:i + count], mingw_numbers[i:i + count]
        i += count
        if o[0] != m[0] or o[1] != m[1]:
            differ(f"layout {name}", f"size/align ours {o[0]}/{o[1]}, mingw-w64 {m[0]}/{m[1]}")
        for member, ov, mv in zip(common, o[2:], m[2:]):
            if ov != mv:
                differ(f"layout {name}.{member}", f"offset ours {ov}, mingw-w64 {mv}")
        if [x for x in ours_members if x in mingw_members] != [x for x in mingw_members if x in ours_members]:
            differ(f"layout {name} order", f"ours {ours_members}, mingw-w64 {mingw_members}")
    for iface in interfaces:
        o, m = vtable(ours_records, iface), vtable(mingw_records, iface)
        # Ours may declare fewer methods only if it declares none of them out of place.
        if o != m:
            differ(f"vtable {iface}", f"ours {o}, mingw-w64 {m}")
            continue
        for method in sorted(set(methods(ours_records[iface][2]))):
            os_ = spelled(ours_sigs.get((iface, method)), ours_tags)
            ms = spelled(mingw_sigs.get((iface, method)), mingw_tags)
            if os_ != ms:
                differ(f"signature {iface}::{method}", f"ours {os_}, mingw-w64 {ms}")

    allowed = {}
    with open(ALLOW_FILE, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            key, sep, reason = line.partition(" -- ")
            if not sep or not reason.strip():
                print(f"{ALLOW_FILE}:{number}: an entry needs ' -- ' and its reason")
                return 1
            allowed[key.strip()] = reason.strip()

    unexpected = sorted(k for k in differences if k not in allowed)
    stale = sorted(k for k in allowed if k not in differences)
    compared = len(values) + len(common_guids) + len(interfaces) + len(layouts)
    print(
        f"mapi declarations: {len(values)} values, {len(common_guids)} guids, "
        f"{len(interfaces)} interfaces ({sum(len(vtable(ours_records, n)) for n in interfaces)} slots), "
        f"{len(layouts)} layouts ({sum(len(c) for _, c, _, _ in layouts)} members) compared; "
        f"{len(differences)} differences, {len(differences) - len(unexpected)} of them allowed"
    )
    if args.verbose:
        for key in sorted(differences):
            print(f"  {'allowed' if key in allowed else 'NEW'}: {key}: {differences[key]}")
    for key in unexpected:
        print(f"difference not in the allow-list: {key}: {differences[key]}")
    for key in stale:
        print(f"allowed difference that no longer occurs: {key}")
    return 1 if unexpected or stale or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
