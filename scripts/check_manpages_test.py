# SPDX-License-Identifier: MIT
"""check_manpages.py on copies of the pages made to lack one thing each: the
check must fail and name it. Run from scripts/:
python3 -m unittest -v check_manpages_test"""

import contextlib
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import check_manpages

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SCRIPT = os.path.join(HERE, "check_manpages.py")


class TheScript(unittest.TestCase):
    def test_it_runs_on_its_own_and_says_what_it_checked(self):
        done = subprocess.run([sys.executable, "-B", SCRIPT, "--source", ROOT],
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stdout, r"check_manpages: \d+ pages; checked mailbroker-client")


def drop_entry(text, term):
    """The page without the definition-list entry whose head starts *term*:
    its head line and the indented lines under it."""
    lines = text.split("\n")
    out = []
    skipping = False
    for line in lines:
        if line.startswith("*" + term + "*"):
            skipping = True
            continue
        if skipping and (line.startswith("\t") or line == ""):
            if line == "":
                skipping = False
            continue
        skipping = False
        out.append(line)
    result = "\n".join(out)
    assert result != text, f"no entry *{term}* to drop"
    return result


class CheckManpages(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="check_manpages_")
        self.man = os.path.join(self.folder, "man")
        shutil.copytree(os.path.join(ROOT, "man"), self.man,
                        ignore=shutil.ignore_patterns("*.txt", "*.cmake"))

    def tearDown(self):
        shutil.rmtree(self.folder)

    def edit(self, page, change):
        path = os.path.join(self.man, page)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        changed = change(text)
        self.assertNotEqual(changed, text, "the edit changed nothing")
        with open(path, "w", encoding="utf-8") as f:
            f.write(changed)

    def run_check(self, *extra):
        errors = io.StringIO()
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(errors):
            code = check_manpages.main(["--source", ROOT, "--man", self.man,
                                        "--header", os.path.join(self.folder, "none.h"), *extra])
        return code, errors.getvalue()

    def assertFailsNaming(self, *names, extra=()):
        code, said = self.run_check(*extra)
        self.assertEqual(code, 1, said)
        for name in names:
            self.assertIn(name, said)

    def test_the_pages_as_they_are_pass(self):
        code, said = self.run_check()
        self.assertEqual(code, 0, said)

    def test_a_profile_key_left_out(self):
        self.edit("mailbroker-profiles.5.scd", lambda t: drop_entry(t, "tls_fingerprint"))
        self.assertFailsNaming("KEYS has no entry for the key tls_fingerprint")

    def test_a_value_of_a_key_left_out(self):
        self.edit("mailbroker-profiles.5.scd",
                  lambda t: t.replace("*starttls* = *try* | *required*", "*starttls* = *try*")
                  .replace("fail\n\twithout it (*required*)", "fail\n\twithout it"))
        self.assertFailsNaming("the entry of starttls lacks its value required")

    def test_a_transport_form_left_out(self):
        self.edit("mailbroker-profiles.5.scd", lambda t: t.replace("*sendmail:*", "sendmail:"))
        self.assertFailsNaming("the entry of transport lacks its value sendmail:")

    def test_a_command_option_left_out(self):
        self.edit("mailbroker-client.1.scd", lambda t: drop_entry(t, "--body-file"))
        self.edit("mailbroker-client.1.scd",
                  lambda t: t.replace("| *--body-file* _PATH_|*-*]", "]"))
        self.assertFailsNaming("'## send' lacks the option --body-file")

    def test_an_option_of_another_command_does_not_count(self):
        # --parent is documented under send; addrs must document its own.
        self.edit("mailbroker-client.1.scd",
                  lambda t: t.replace("[*--caption* _TEXT_] [*--parent* _N_]",
                                      "[*--caption* _TEXT_]")
                  .replace("*--parent* _N_\n\tThe window (a number from 0 to 2147483647) "
                           "that owns the dialogs.\n", ""))
        self.assertFailsNaming("'## addrs' lacks the option --parent")

    def test_a_command_left_out(self):
        self.edit("mailbroker-client.1.scd",
                  lambda t: re.sub(r"## queue\n.*?(?=## check)", "", t, flags=re.S))
        self.assertFailsNaming("no '## queue' subsection for the command queue")

    def test_a_client_option_and_an_exit_code_left_out(self):
        self.edit("mailbroker-client.1.scd", lambda t: drop_entry(t, "--pipe"))
        self.edit("mailbroker-client.1.scd", lambda t: drop_entry(t, "4"))
        self.assertFailsNaming("OPTIONS lacks the client option --pipe",
                               "EXIT STATUS lacks the exit code 4")

    def test_a_broker_option_left_out(self):
        self.edit("mailbroker.1.scd", lambda t: drop_entry(t, "--proc="))
        self.assertFailsNaming("OPTIONS lacks the command-line marker --proc=")

    def test_a_request_key_left_out(self):
        self.edit("mailbroker.1.scd", lambda t: t.replace("*ShowAddressBook*", "ShowAddressBook"))
        self.assertFailsNaming("REQUESTS lacks the request key ShowAddressBook")

    def test_an_environment_variable_left_out(self):
        self.edit("mailbroker.1.scd", lambda t: drop_entry(t, "MAILBROKER_FLUSH"))
        self.edit("mailbroker-client.1.scd", lambda t: drop_entry(t, "XDG_RUNTIME_DIR"))
        self.assertFailsNaming("mailbroker.1.scd: ENVIRONMENT lacks MAILBROKER_FLUSH",
                               "mailbroker-client.1.scd: ENVIRONMENT lacks XDG_RUNTIME_DIR")

    def test_a_function_of_the_header_left_out(self):
        header = os.path.join(self.folder, "mailbroker.h")
        with open(header, "w") as f:
            f.write("/* mailbroker_not_this(void) in a comment */\n"
                    "#define mailbroker_macro(x) (x)\n"
                    "typedef void (*mailbroker_callback)(void *);\n"
                    "int mailbroker_open(const char *broker);\n"
                    "void mailbroker_close(int);\n")
        with open(os.path.join(self.man, "mailbroker.3.scd"), "w") as f:
            f.write("mailbroker(3)\n\n# NAME\n\nmailbroker - x\n\n# SYNOPSIS\n\n"
                    "*int mailbroker_open(const char \\*broker);*\n\n"
                    "# ENVIRONMENT\n\n*MAILBROKER_BROKER*\n\tThe Broker.\n")
        code, said = self.run_check()  # the default --header names no file
        self.assertEqual(code, 0, said)
        self.assertFailsNaming("lacks the function mailbroker_close", extra=("--header", header))
        code, said = self.run_check("--header", header)
        self.assertNotIn("mailbroker_open", said)
        self.assertNotIn("mailbroker_not_this", said)
        self.assertNotIn("mailbroker_macro", said)
        self.assertNotIn("mailbroker_callback", said)

    def test_a_header_without_its_page(self):
        header = os.path.join(self.folder, "mailbroker.h")
        with open(header, "w") as f:
            f.write("int mailbroker_open(const char *broker);\n")
        os.remove(os.path.join(self.man, "mailbroker.3.scd"))
        self.assertFailsNaming("mailbroker.3.scd: missing", extra=("--header", header))

    def test_a_page_that_renders_with_a_warning(self):
        built = os.path.join(self.folder, "built")
        os.mkdir(built)
        for name in os.listdir(self.man):
            with open(os.path.join(built, name[:-len(".scd")]), "w") as f:
                f.write(".TH X 1\n.SH NAME\nx \\- y\n")
        with open(os.path.join(built, "mailbroker.1"), "a") as f:
            f.write(".NOSUCHMACRO\n")
        self.assertFailsNaming("mailbroker.1.scd: rendering warns", "NOSUCHMACRO",
                               extra=("--built", built))

    def test_an_example_profile_that_does_not_load(self):
        client = os.environ.get("MB_CLIENT")
        if not client:
            self.skipTest("MB_CLIENT names no mailbroker-client")
        self.edit("mailbroker-profiles.5.scd",
                  lambda t: t.replace("timeout        = 30", "timeout        = thirty"))
        self.assertFailsNaming("its examples do not load",
                               "'timeout' must be a number of seconds from 1 to 3600",
                               extra=("--client", client))

    def test_a_page_not_generated(self):
        built = os.path.join(self.folder, "built")
        os.mkdir(built)
        self.assertFailsNaming("not generated", extra=("--built", built))


class ResolveVariable(unittest.TestCase):
    """Which variable a getenv call reads, however it names it."""

    def resolve(self, text, argument):
        position = text.index("getenv(" + argument)
        return check_manpages.resolve_variable(argument, text, position, {"kLimit": "X_LIMIT"})

    def test_a_literal(self):
        self.assertEqual(self.resolve('f() { getenv("HOME"); }', '"HOME"'), {"HOME"})

    def test_a_loop_over_names(self):
        text = ('bool f() { for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) '
                '{ getenv(name); } }')
        self.assertEqual(self.resolve(text, "name"), {"DISPLAY", "WAYLAND_DISPLAY"})

    def test_a_constant(self):
        self.assertEqual(self.resolve("void f() { getenv(kLimit); }", "kLimit"), {"X_LIMIT"})

    def test_a_parameter_takes_what_the_callers_pass(self):
        text = ('bool set(const char* name) { return getenv(name) != nullptr; }\n'
                'bool g() { return set("A_VAR") || set("B_VAR"); }')
        self.assertEqual(self.resolve(text, "name"), {"A_VAR", "B_VAR"})

    def test_an_argument_it_cannot_follow(self):
        self.assertIsNone(self.resolve("void f() { getenv(pick()); }", "pick()"))
        text = "void f(std::string s) { getenv(s.c_str()); }"
        self.assertIsNone(check_manpages.resolve_variable("s.c_str()", text, text.index("getenv"),
                                                          {}))


if __name__ == "__main__":
    unittest.main()
