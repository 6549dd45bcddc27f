#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the manual pages in man/ against the code they describe.

What a page must name is read from the code, not from a list kept here, so a
command, option, profile key, function or environment variable added to the
code fails this check until its page says something about it:

  mailbroker-client(1)  the commands of the table in host/client_cli.cpp (and
                        those runClient answers itself, such as help), the
                        client's own options, each command's options (its
                        usage text there, and its option rules in
                        host/mail_request.cpp), the exit codes of
                        host/client_cli.h, and the variables host/ reads
  mailbroker(1)         the command-line markers of broker/command_line.cpp,
                        the commands routed in commands/dispatch.cpp and the
                        request keys commands/ reads, and every variable the
                        Broker, the provider and the programs they start read
  mailbroker-profiles(5) every key profiles/profiles.cpp accepts, with every
                        value it names for the key, and the section header
  mailbroker(3)         every mailbroker_* function of
                        libmailbroker/include/mailbroker/mailbroker.h and the
                        variables libmailbroker/ reads, once those exist

Given --built DIR (the folder scdoc wrote the pages to), it also renders each
generated page with man (or groff) and fails on any warning.

Run: python3 scripts/check_manpages.py [--source ROOT] [--built DIR]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HEADER = "libmailbroker/include/mailbroker/mailbroker.h"

# Which folders' getenv calls each page answers for. The Broker loads the
# provider, which starts mailbroker-dialogs, mailbroker-secret and
# mailbroker-check: all of them run with the environment the host gave the
# Broker. The client links host/ and what it builds on.
ENVIRONMENT_SOURCES = {
    "mailbroker.1.scd": ["broker", "channel", "commands", "codec", "foundation", "mapi", "pal",
                         "base", "profiles", "provider", "dialogs"],
    "mailbroker-client.1.scd": ["host", "profiles", "pal", "base"],
    "mailbroker.3.scd": ["libmailbroker"],
}

STRING = r'"((?:[^"\\]|\\.)*)"'


class Problems:
    def __init__(self):
        self.lines = []

    def add(self, page, text):
        self.lines.append(f"{page}: {text}")


# ---------------------------------------------------------------- reading code

def read(root, relative):
    with open(os.path.join(root, relative), encoding="utf-8") as f:
        return f.read()


COMMENT_OR_LITERAL = re.compile(r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|//[^\n]*|/\*.*?\*/',
                                re.S)


def without_comments(text):
    """C++ text with comments blanked (their line breaks kept), literals kept."""
    def blank(match):
        token = match.group(0)
        if token.startswith("//"):
            return ""
        if token.startswith("/*"):
            return "\n" * token.count("\n")
        return token
    return COMMENT_OR_LITERAL.sub(blank, text)


def unescape(literal):
    return bytes(literal, "utf-8").decode("unicode_escape")


def body_of(text, signature_pattern, what):
    """The text between the braces of the first function whose header matches."""
    match = re.search(signature_pattern, text)
    if match is None:
        raise LookupError(f"cannot find {what}")
    start = text.index("{", match.end() - 1)
    depth = 0
    for i in range(start, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return text[start + 1:i]
    raise LookupError(f"{what} has no end")


def client_commands(root):
    """{command: {"words": [...], "options": set()}} and the client's own options."""
    cli = without_comments(read(root, "host/client_cli.cpp"))
    table = body_of(cli, r"subcommands\(\)\s*\{", "the subcommand table in host/client_cli.cpp")
    commands = {}
    row = re.compile(r"\{\s*" + STRING + r"\s*,\s*((?:" + STRING + r"\s*)+),")
    for match in row.finditer(table):
        name = unescape(match.group(1))
        usage = "".join(unescape(m.group(1)) for m in re.finditer(STRING, match.group(2)))
        words = usage.split()
        if not words or words[0] != name:
            raise LookupError(f"the usage of {name} does not start with its name: {usage!r}")
        literal = [name]
        for word in words[1:]:
            if re.fullmatch(r"[a-z]+", word):
                literal.append(word)  # a fixed word such as "password set"
            else:
                break
        options = set(re.findall(r"(?<![\w-])(--[a-z][a-z-]*)", usage))
        commands[name] = {"words": literal, "options": options}
    if not commands:
        raise LookupError("the subcommand table in host/client_cli.cpp holds no command")

    run = body_of(cli, r"int\s+runClient\s*\([^)]*\)\s*\{", "runClient in host/client_cli.cpp")
    for name in re.findall(r'args\[i\]\s*==\s*"([a-z][a-z-]*)"', run):
        commands.setdefault(name, {"words": [name], "options": set()})
    global_options = set(re.findall(r'option\s*==\s*"(--[a-z][a-z-]*)"', run))
    global_options |= set(re.findall(r'args\[i\]\s*==\s*"(-[a-z])"', run))

    # Each command's option rules: sendRules() belongs to send, and so on.
    request = without_comments(read(root, "host/mail_request.cpp"))
    rules = re.compile(r"OptionRule>&\s+(\w+)Rules\s*\(\)\s*\{")
    for match in rules.finditer(request):
        command = match.group(1)
        if command not in commands:
            raise LookupError(f"host/mail_request.cpp has option rules for {command}, "
                              "which is no command of host/client_cli.cpp")
        text = body_of(request[match.start():], r"\(\)\s*\{", f"{command}Rules")
        commands[command]["options"] |= set(re.findall(r'\{\s*"(--[a-z][a-z-]*)"\s*,', text))

    header = without_comments(read(root, "host/client_cli.h"))
    exits = {int(v) for v in re.findall(r"\bkExit\w+\s*=\s*(\d+)", header)}
    if not exits:
        raise LookupError("no exit codes in host/client_cli.h")
    return commands, global_options, exits


def broker_interface(root):
    line = without_comments(read(root, "broker/command_line.cpp"))
    options = set(re.findall(r'"\s*(--[a-z][a-z-]*=?)"', line))
    if not options:
        raise LookupError("no option markers in broker/command_line.cpp")
    dispatch = without_comments(read(root, "commands/dispatch.cpp"))
    routes = set(re.findall(r'\{\s*"([A-Za-z]+)"\s*,\s*\w+\s*\}', dispatch))
    if not routes:
        raise LookupError("no routes in commands/dispatch.cpp")
    keys = set()
    for name in sorted(os.listdir(os.path.join(root, "commands"))):
        if name.endswith(".cpp") and not name.endswith("_test.cpp"):
            text = without_comments(read(root, os.path.join("commands", name)))
            keys |= set(re.findall(r'\b(?:param|readNumber)\s*\(\s*"(\w+)"', text))
    return options, routes, keys


def named_values(text):
    """The literals a value is compared with: value == "x", value != "x",
    value.rfind("x", 0) == 0 (a prefix)."""
    values = set(re.findall(r'\bvalue\s*[!=]=\s*"([^"]+)"', text))
    values |= set(re.findall(r'\bvalue\.rfind\(\s*"([^"]+)"\s*,\s*0\s*\)', text))
    return values


def profile_keys(root):
    """{key: set(values the code names for it)} and the section prefix."""
    text = without_comments(read(root, "profiles/profiles.cpp"))
    apply = body_of(text, r"bool\s+applyKey\s*\([^)]*\)\s*\{", "applyKey in profiles/profiles.cpp")
    branch = re.compile(r"if\s*\(((?:\s*(?:\|\|)?\s*key\s*==\s*" + STRING + r")+)\s*\)\s*\{")
    starts = list(branch.finditer(apply))
    keys = {}
    for index, match in enumerate(starts):
        end = starts[index + 1].start() if index + 1 < len(starts) else len(apply)
        body = apply[match.end():end]
        values = named_values(body)
        # The validators the branch hands the value to name values too
        # (validTransport: "sendmail", "smtp://", ...).
        for helper in set(re.findall(r"\b(\w+)\s*\(\s*value\s*[,)]", body)):
            try:
                values |= named_values(body_of(text, r"\b" + helper + r"\s*\([^)]*\)\s*\{",
                                               helper))
            except LookupError:
                pass  # not a function of this file
        values |= set(re.findall(r'\{\s*"([^"]+)"\s*,\s*\w+::\w+\s*\}', body))
        for key in re.findall(r'key\s*==\s*' + STRING, match.group(1)):
            keys.setdefault(key, set()).update(values)
    # A key compared anywhere else in applyKey is a key too, values or not.
    for key in re.findall(r'\bkey\s*==\s*' + STRING, apply):
        keys.setdefault(key, set())
    if not keys:
        raise LookupError("no keys in applyKey of profiles/profiles.cpp")
    prefix = re.search(r"kSectionPrefix\s*=\s*" + STRING, text)
    if prefix is None:
        raise LookupError("no kSectionPrefix in profiles/profiles.cpp")
    return keys, unescape(prefix.group(1))


def header_functions(path):
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as f:
        text = without_comments(f.read())
    text = re.sub(r"^\s*#.*$", "", text, flags=re.M)  # macros are not functions
    return set(re.findall(r"\b(mailbroker_[a-z0-9_]+)\s*\(", text))


GETENV = re.compile(r"\b(?:std::)?(?:g_|secure_)?getenv\s*\(|\bGetEnvironmentVariable[AW]?\s*\(")


def call_argument(text, open_paren):
    """The first argument of the call whose '(' is at open_paren, parentheses
    inside it kept whole."""
    depth = 0
    for i in range(open_paren, len(text)):
        c = text[i]
        if c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                return text[open_paren + 1:i].strip()
        elif c == "," and depth == 1:
            return text[open_paren + 1:i].strip()
    return text[open_paren + 1:].strip()


def source_files(root, folder):
    top = os.path.join(root, folder)
    for directory, subfolders, files in os.walk(top):
        subfolders[:] = sorted(s for s in subfolders if s not in ("fakes", "testdata"))
        for name in sorted(files):
            if not name.endswith((".cpp", ".h", ".c")):
                continue
            if name.endswith(("_test.cpp", "_test_support.h", "_test.c")):
                continue
            yield os.path.relpath(os.path.join(directory, name), root)


def resolve_variable(argument, text, position, constants):
    """The variable names a getenv argument stands for, or None."""
    literal = re.fullmatch(STRING, argument)
    if literal:
        return {unescape(literal.group(1))}
    if not re.fullmatch(r"[A-Za-z_]\w*", argument):
        return None
    # for (const char* name : {"A", "B"}) getenv(name)
    loops = list(re.finditer(r"for\s*\(\s*(?:const\s+)?(?:char\s*\*|auto\s*\*?|std::string_view)\s*"
                             + re.escape(argument) + r"\s*:\s*\{([^}]*)\}", text[:position]))
    if loops:
        return {unescape(m.group(1)) for m in re.finditer(STRING, loops[-1].group(1))}
    # A constant: kVariable = "NAME", in this file or a header of the tree.
    if argument in constants:
        return {constants[argument]}
    # A parameter of the enclosing function: the literals its callers pass.
    headers = list(re.finditer(r"\b(\w+)\s*\(([^()]*)\)\s*(?:const\s*)?(?:noexcept\s*)?\{",
                               text[:position]))
    for header in reversed(headers):
        if re.search(r"\b" + re.escape(argument) + r"\s*$", header.group(2).split(",")[0]) or \
                re.search(r"\b" + re.escape(argument) + r"\b", header.group(2)):
            function = header.group(1)
            calls = re.findall(r"\b" + re.escape(function) + r"\s*\(\s*" + STRING, text)
            return {unescape(c) for c in calls} or None
    return None


class Constants:
    """k-constants holding a string ("kVariable = \"NAME\""), looked up on demand."""

    def __init__(self, root):
        self.root = root
        self.cache = {}

    def __contains__(self, name):
        return self.get(name) is not None

    def __getitem__(self, name):
        return self.get(name)

    def get(self, name):
        if not re.fullmatch(r"k[A-Z]\w*", name):
            return None
        if name not in self.cache:
            self.cache[name] = None
            pattern = re.compile(r"\b" + re.escape(name) + r"\s*=\s*" + STRING)
            for folder in sorted(set(sum(ENVIRONMENT_SOURCES.values(), []))):
                if not os.path.isdir(os.path.join(self.root, folder)):
                    continue
                for relative in source_files(self.root, folder):
                    raw = read(self.root, relative)
                    if name in raw:
                        found = pattern.search(without_comments(raw))
                        if found:
                            self.cache[name] = unescape(found.group(1))
                            return self.cache[name]
        return self.cache[name]


def environment_variables(root, folders, constants):
    """{variable: [file:line, ...]} read by getenv in these folders."""
    found = {}
    for folder in folders:
        if not os.path.isdir(os.path.join(root, folder)):
            continue
        for relative in source_files(root, folder):
            raw = read(root, relative)
            if "etenv" not in raw and "GetEnvironmentVariable" not in raw:
                continue
            text = without_comments(raw)
            for match in GETENV.finditer(text):
                argument = call_argument(text, match.end() - 1)
                where = f"{relative}:{text.count(chr(10), 0, match.start()) + 1}"
                names = resolve_variable(argument, text, match.start(), constants)
                if not names:
                    raise LookupError(f"{where}: cannot tell which variable getenv({argument}) "
                                      "reads; name it with a literal or a k-constant")
                for name in names:
                    found.setdefault(name, []).append(where)
    return found


# ---------------------------------------------------------------- reading pages

class Page:
    """An scdoc source split into its sections (# NAME) and subsections (## NAME)."""

    def __init__(self, path):
        self.path = path
        self.name = os.path.basename(path)
        with open(path, encoding="utf-8") as f:
            self.text = f.read()
        self.sections = {}
        self.subsections = {}
        section = subsection = None
        for line in self.text.splitlines():
            if line.startswith("## "):
                subsection = line[3:].strip()
                self.subsections[subsection] = []
            elif line.startswith("# "):
                section = line[2:].strip()
                subsection = None
                self.sections[section] = []
            if section is not None:
                self.sections[section].append(line)
            if subsection is not None:
                self.subsections[subsection].append(line)

    def title(self):
        return self.text.split("\n", 1)[0].strip()

    @staticmethod
    def bold(lines, terms_only=True):
        """The bold spans (*...*) of the lines; of term lines only, by default
        (those not indented: an entry's head, not its description)."""
        spans = set()
        for line in lines:
            if terms_only and (line.startswith("\t") or line.startswith(" ")):
                continue
            spans |= {s.strip() for s in re.findall(r"(?<![\\\w])\*([^*\n]+?)\*", line)}
        return spans

    def section(self, name):
        return self.sections.get(name)

    def entries(self, section):
        """{term: lines of its entry}: each unindented line opening with a bold
        span, with the indented lines that follow it."""
        out = {}
        current = None
        for line in self.sections.get(section, []):
            if line.startswith("\t"):
                if current is not None:
                    out[current].append(line)
                continue
            match = re.match(r"\*([^*]+)\*", line)
            current = match.group(1).strip() if match else None
            if current is not None:
                out.setdefault(current, []).append(line)
        return out


def check_client(page, root, problems):
    commands, global_options, exits = client_commands(root)
    options_section = page.section("OPTIONS")
    if options_section is None:
        problems.add(page.name, "no OPTIONS section")
    else:
        documented = Page.bold(options_section)
        for option in sorted(global_options - documented):
            problems.add(page.name, f"OPTIONS lacks the client option {option}")
    if page.section("COMMANDS") is None:
        problems.add(page.name, "no COMMANDS section")
    for name, command in sorted(commands.items()):
        lines = page.subsections.get(name)
        if lines is None:
            problems.add(page.name, f"no '## {name}' subsection for the command {name}")
            continue
        spans = Page.bold(lines)
        words = " ".join(command["words"])
        if not any(s == words or s.startswith(words + " ") for s in spans):
            problems.add(page.name, f"'## {name}' does not show the command as *{words}*")
        for option in sorted(command["options"] - spans):
            problems.add(page.name, f"'## {name}' lacks the option {option}")
    status = page.section("EXIT STATUS")
    if status is None:
        problems.add(page.name, "no EXIT STATUS section")
    else:
        documented = Page.bold(status)
        for code in sorted(exits):
            if str(code) not in documented:
                problems.add(page.name, f"EXIT STATUS lacks the exit code {code} "
                             "of host/client_cli.h")
    return (f"{len(commands)} commands, {sum(len(c['options']) for c in commands.values())} "
            f"command options, {len(global_options)} client options, {len(exits)} exit codes")


def check_broker(page, root, problems):
    options, routes, keys = broker_interface(root)
    section = page.section("OPTIONS")
    documented = Page.bold(section or [])
    synopsis = Page.bold(page.section("SYNOPSIS") or [])
    for option in sorted(options):
        if option not in documented:
            problems.add(page.name, f"OPTIONS lacks the command-line marker {option}")
        if option not in synopsis:
            problems.add(page.name, f"SYNOPSIS lacks {option}")
    requests = page.section("REQUESTS")
    if requests is None:
        problems.add(page.name, "no REQUESTS section")
    else:
        heads = Page.bold(requests)
        for route in sorted(routes - heads):
            problems.add(page.name, f"REQUESTS lacks the command {route}")
        everywhere = Page.bold(requests, terms_only=False)
        for key in sorted(keys - everywhere):
            problems.add(page.name, f"REQUESTS lacks the request key {key}")
    return f"{len(options)} options, {len(routes)} requests, {len(keys)} request keys"


def check_profiles(page, root, problems):
    keys, prefix = profile_keys(root)
    if "[" + prefix.strip() not in page.text:
        problems.add(page.name, f"the section header [{prefix.strip()} NAME] is not shown")
    entries = page.entries("KEYS")
    values_checked = 0
    for key, values in sorted(keys.items()):
        entry = entries.get(key)
        if entry is None:
            problems.add(page.name, f"KEYS has no entry for the key {key}")
            continue
        spans = Page.bold(entry, terms_only=False)
        for value in sorted(values):
            values_checked += 1
            if value not in spans:
                problems.add(page.name, f"the entry of {key} lacks its value {value}")
    return f"{len(keys)} keys, {values_checked} values"


def check_functions(page, functions, problems):
    for function in sorted(functions):
        if not re.search(r"\b" + re.escape(function) + r"\b", page.text):
            problems.add(page.name, f"lacks the function {function} of {HEADER}")


def check_environment(page, variables, problems):
    section = page.section("ENVIRONMENT")
    if section is None:
        if variables:
            problems.add(page.name, "no ENVIRONMENT section")
        return
    documented = Page.bold(section)
    for name, where in sorted(variables.items()):
        if name not in documented:
            problems.add(page.name, f"ENVIRONMENT lacks {name} (read in {where[0]})")


# ---------------------------------------------------------------- examples

def check_profile_examples(page, client, problems):
    """Loads the page's example profiles.ini blocks with the real parser (by
    running `mailbroker-client queue` on them, which reads profiles.ini and
    the stores only). Returns how many blocks were loaded."""
    blocks = re.findall(r"^```\n(\[profile .*?)^```", page.text, flags=re.S | re.M)
    if not blocks:
        problems.add(page.name, "no example profiles.ini block")
        return 0
    with tempfile.TemporaryDirectory(prefix="check_manpages_") as home:
        config = os.path.join(home, "config", "mailbroker")
        os.makedirs(config)
        with open(os.path.join(config, "profiles.ini"), "w", encoding="utf-8") as f:
            f.write("\n".join(blocks))
        environment = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                           XDG_DATA_HOME=os.path.join(home, "data"))
        done = subprocess.run([client, "queue"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              env=environment, timeout=60)
        said = done.stdout.decode("utf-8", "replace").strip()
        if done.returncode != 0:
            problems.add(page.name, "its examples do not load as profiles.ini: "
                         + said.replace(os.path.join(config, ""), ""))
        for name in re.findall(r"^\[profile ([^\]]+)\]", "\n".join(blocks), flags=re.M):
            if done.returncode == 0 and f"profile {name}:" not in said:
                problems.add(page.name, f"the example profile {name} is not listed by queue")
    return len(blocks)


# ---------------------------------------------------------------- rendering

def render_warnings(path):
    """What man (or groff) says on standard error while rendering the page."""
    environment = dict(os.environ, MANWIDTH="80", MAN_DISABLE_SECCOMP="1")
    environment.setdefault("LC_ALL", "C.UTF-8")
    if shutil.which("man"):
        command = ["man", "--warnings", "-l", path]
    elif shutil.which("groff"):
        command = ["groff", "-ww", "-man", "-Tutf8", "-z", path]
    else:
        return "neither man nor groff is installed (Debian: man-db)"
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          env=environment, timeout=60)
    said = done.stderr.decode("utf-8", "replace").strip()
    if done.returncode != 0 and not said:
        said = f"{command[0]} exited {done.returncode}"
    return said


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", default=os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))), help="the source tree (default: this script's)")
    parser.add_argument("--built", help="the folder holding the pages scdoc generated")
    parser.add_argument("--list", action="store_true", help="print what was read from the code")
    parser.add_argument("--man", help="the folder of the .scd pages (default: SOURCE/man)")
    parser.add_argument("--header", help=f"the C header (default: SOURCE/{HEADER})")
    parser.add_argument("--client", help="mailbroker-client, to load the example profiles with")
    args = parser.parse_args(argv)
    root = args.source
    man = args.man or os.path.join(root, "man")
    header = args.header or os.path.join(root, HEADER)
    problems = Problems()

    pages = {}
    for name in sorted(os.listdir(man)):
        if name.endswith(".scd"):
            pages[name] = Page(os.path.join(man, name))
    for name, page in pages.items():
        if page.title() != name[:-len(".scd")].rsplit(".", 1)[0] + "(" + name[-5] + ")":
            problems.add(name, f"its first line '{page.title()}' does not match the file name")

    summary = []
    if args.list:
        commands, global_options, exits = client_commands(root)
        print("client options:", " ".join(sorted(global_options)))
        for name, command in sorted(commands.items()):
            print(f"client command {' '.join(command['words'])}:",
                  " ".join(sorted(command["options"])))
        print("client exit codes:", " ".join(str(c) for c in sorted(exits)))
        options, routes, keys = broker_interface(root)
        print("broker options:", " ".join(sorted(options)))
        print("broker commands:", " ".join(sorted(routes)))
        print("request keys:", " ".join(sorted(keys)))
        profile, prefix = profile_keys(root)
        for key, values in sorted(profile.items()):
            print(f"profile key {key}:", " ".join(sorted(values)))
        print("functions:", " ".join(sorted(header_functions(header) or [])) or "(no header)")
        constants = Constants(root)
        for name, folders in ENVIRONMENT_SOURCES.items():
            variables = environment_variables(root, folders, constants)
            print(f"environment for {name}:", " ".join(sorted(variables)))
        return 0
    try:
        for name, handler in (("mailbroker-client.1.scd", check_client),
                              ("mailbroker.1.scd", check_broker),
                              ("mailbroker-profiles.5.scd", check_profiles)):
            if name not in pages:
                problems.add(name, "missing")
                continue
            summary.append((name, handler(pages[name], root, problems)))
        functions = header_functions(header)
        if functions is not None:
            if "mailbroker.3.scd" not in pages:
                problems.add("mailbroker.3.scd", f"missing, while {HEADER} declares "
                             f"{len(functions)} functions")
            else:
                check_functions(pages["mailbroker.3.scd"], functions, problems)
            summary.append(("mailbroker.3.scd", f"{len(functions)} functions"))
        constants = Constants(root)
        for name, folders in ENVIRONMENT_SOURCES.items():
            variables = environment_variables(root, folders, constants)
            if name not in pages:
                if variables and functions is not None:
                    problems.add(name, f"missing, while {', '.join(folders)} read "
                                 + ", ".join(sorted(variables)))
                continue
            check_environment(pages[name], variables, problems)
            summary.append((name, f"{len(variables)} environment variables"))
    except (LookupError, OSError) as e:
        # The code changed shape: this check must be taught the new one,
        # not pass quietly.
        print(f"check_manpages: cannot read the code: {e}", file=sys.stderr)
        return 2

    if args.client and "mailbroker-profiles.5.scd" in pages:
        loaded = check_profile_examples(pages["mailbroker-profiles.5.scd"], args.client, problems)
        summary.append(("mailbroker-profiles.5.scd", f"{loaded} examples loaded"))

    rendered = 0
    if args.built:
        for name in pages:
            generated = os.path.join(args.built, name[:-len(".scd")])
            if not os.path.exists(generated):
                problems.add(name, f"not generated: {generated} is missing (build first)")
                continue
            said = render_warnings(generated)
            rendered += 1
            if said:
                problems.add(name, "rendering warns:\n    " + said.replace("\n", "\n    "))

    for line in problems.lines:
        print(line, file=sys.stderr)
    counts = "; ".join(f"{name}: {what}" for name, what in summary)
    print(f"check_manpages: {len(pages)} pages; checked {counts}; rendered {rendered}")
    if problems.lines:
        print(f"check_manpages: {len(problems.lines)} problems", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
