#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The New Message window under a private X server, driven with xdotool.

Runs mailbroker-dialogs with a compose request, types into the window and
checks what the person would: Save puts a draft with the typed contents into
the Drafts folder in place of the old one; Send runs the client with the
typed recipients, subject, body and the attachments' files intact, keeps
window and draft when the client fails, removes the draft when it succeeds;
closing asks, and Keep saves while Discard removes the draft.

The client is a fake (MAILBROKER_CLIENT) that records what it got. Waits are
bounded only so that a broken window fails the test instead of hanging it.

Usage: compose_test.py --program PATH [--screenshot PNG]
"""
import argparse
import ctypes
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WAIT = 30  # seconds; an upper bound against hangs, not a speed target

FAKE_CLIENT = r'''#!/usr/bin/env python3
import json, os, sys
record = os.environ["COMPOSE_TEST_RECORD"]
args = sys.argv[1:]
call = {"argv": args, "profile": os.environ.get("MAILBROKER_PROFILE"), "attachments": []}
for i, arg in enumerate(args[:-1]):
    if arg == "--body-file":
        with open(args[i + 1], "rb") as f:
            call["body"] = f.read().decode("utf-8")
    if arg == "--attach":
        with open(args[i + 1], "rb") as f:
            call["attachments"].append({"name": os.path.basename(args[i + 1]),
                                        "data": f.read().hex()})
n = len([f for f in os.listdir(record) if f.startswith("call-")])
with open(os.path.join(record, "call-%d.json" % n), "w") as f:
    json.dump(call, f)
if os.path.exists(os.path.join(record, "fail")):
    sys.stderr.write("mailbroker-client: SendMail failed: MAPI_E_NO_ACCESS (0x80070005)\n")
    sys.exit(6)
'''


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def wait_for(what, predicate):
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise Failure("gave up waiting for " + what)


class XServer:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        check(number.strip(), "Xvfb did not say its display")
        self.display = ":" + number.decode().strip()

    def close(self):
        self.process.terminate()
        self.process.wait()


class Session:
    """One run of the program with one request."""

    def __init__(self, program, display, request, env):
        self.display = display
        self.env = dict(env, DISPLAY=display, NO_AT_BRIDGE="1", GTK_A11Y="none")
        self.env.pop("WAYLAND_DISPLAY", None)
        self.process = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=self.env)
        self.process.stdin.write((json.dumps(request) + "\n").encode())
        self.process.stdin.flush()
        line = self.process.stdout.readline().decode()
        check(json.loads(line or "{}") == {"event": "shown"}, "expected the shown event, got %r" % line)
        # The process we started hands the window to a process of its own and
        # ends; as a subreaper this test adopts that one and can wait for it.
        check(self.process.wait(timeout=30) == 0, "the program should end once its window is shown")
        self.pid = None
        self.code = None
        self.window = wait_for("the window", lambda: self.find("New Message", any_pid=True))
        self.pid = int(self.xdotool("getwindowpid", self.window).strip())
        self.focus(self.window)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True).stdout

    def find(self, title, any_pid=False):
        owner = [] if any_pid else ["--pid", str(self.pid)]
        ids = self.xdotool("search", "--all", "--onlyvisible", *owner, "--name",
                           "^" + "".join("\\" + c if c in ".^$*+?()[]{}|\\" else c for c in title) + "$"
                           ).split()
        return ids[0] if ids else None

    def visible_windows(self):
        return len(self.xdotool("search", "--onlyvisible", "--pid", str(self.pid)).split())

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", window)

    def key(self, *keys):
        self.xdotool("key", "--delay", "30", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "20", text)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True)

    def alive(self):
        if self.pid is None or self.code is not None:
            return False
        pid, status = os.waitpid(self.pid, os.WNOHANG)
        if pid == 0:
            return True
        self.code = os.waitstatus_to_exitcode(status)
        return False

    def wait_end(self):
        wait_for("the program to end", lambda: not self.alive())
        return self.code

    def stop(self):
        if sys.exc_info()[0] is Failure:
            # What the screen showed then, for whoever looks into it.
            shot = os.path.join(tempfile.gettempdir(), "compose-test-failure.png")
            subprocess.run(["import", "-window", "root", shot], env=self.env)
            print("compose_test: the screen at the failure: %s" % shot, file=sys.stderr)
            if not self.alive():
                print("compose_test: the window's process had ended with %s" % self.code,
                      file=sys.stderr)
        if self.alive():
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)


def drafts(folder):
    return sorted(os.listdir(os.path.join(folder, "new")))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def make_store(root):
    folder = os.path.join(root, "store", "Drafts")
    for sub in ("tmp", "new", "cur"):
        os.makedirs(os.path.join(folder, sub))
    draft = os.path.join(folder, "new", "1700000000.M1P1Q1.testhost")
    with open(draft, "w") as f:
        f.write("From: Pat Sender <pat@example.org>\nTo: Ann Example <ann@example.org>\n"
                "Subject: old\n\nold body\n")
    return folder, draft


def request_for(draft, attachments, subject=""):
    return {
        "v": 1, "dialog": "compose", "parent": 0, "profile": "Work",
        "recipients": [{"type": "to", "name": "Ann Example", "address": "ann@example.org"}],
        "subject": subject, "body": "",
        "attachments": attachments, "draft": draft,
        "book": [
            {"name": "Ann Example", "type": "SMTP", "address": "ann@example.org", "id": "01"},
            {"name": "Bob Builder", "type": "SMTP", "address": "bob@example.org", "id": "02"},
            {"name": "Team", "type": "MAPIPDL", "address": "", "id": "03",
             "members": [{"name": "Max", "type": "SMTP", "address": "max@example.org", "id": "04"}]},
        ],
    }


def save_and_send(program, display, root, env, screenshot):
    folder, draft = make_store(root)
    report = os.path.join(root, "report.pdf")
    semi = os.path.join(root, "a;b.txt")
    with open(report, "wb") as f:
        f.write(os.urandom(12345))
    with open(semi, "wb") as f:
        f.write(b"semicolon data\n")
    attachments = [{"name": "report.pdf", "path": report, "size": 12345},
                   {"name": "a;b.txt", "path": semi, "size": 15}]
    record = os.path.join(root, "record")
    os.mkdir(record)
    session = Session(program, display, request_for(draft, attachments), dict(env, COMPOSE_TEST_RECORD=record))
    try:
        # To holds Ann; complete Bob from the book after her.
        session.key("End")
        session.type(", bo")
        wait_for("the completion list", lambda: session.visible_windows() > 1)
        session.key("Down", "Return")
        wait_for("the completion list to close", lambda: session.visible_windows() == 1)
        session.key("Tab")
        session.type("carol@example.org")
        session.key("Tab")
        session.type("dave@example.org")
        session.key("Tab")
        session.type("Typed subject")
        session.key("Tab")
        session.type("Typed body")
        if screenshot:
            time.sleep(0.3)  # the last keys drawn
            session.screenshot(screenshot)

        session.key("ctrl+s")
        saved = wait_for("the saved draft", lambda: [n for n in drafts(folder)
                                                      if n != os.path.basename(draft)])
        check(len(saved) == 1, "one new draft expected, found %r" % saved)
        check(not os.path.exists(draft), "the old draft should be gone after Save")
        text = read(os.path.join(folder, "new", saved[0])).decode("utf-8", "replace")
        for expected in ("Subject: Typed subject", "Ann Example <ann@example.org>",
                         "Bob Builder <bob@example.org>", "Cc: carol@example.org",
                         "Bcc: dave@example.org", "Typed body", "From: Pat Sender <pat@example.org>",
                         "filename=report.pdf"):
            check(expected in text, "the draft lacks %r:\n%s" % (expected, text))
        check(os.listdir(os.path.join(folder, "tmp")) == [], "tmp/ should be empty after Save")
        draft = os.path.join(folder, "new", saved[0])

        # A client that fails: the window stays, the draft too, and it says why.
        open(os.path.join(record, "fail"), "w").close()
        session.key("ctrl+Return")
        error = wait_for("the error message", lambda: session.find("Message Not Sent"))
        check(session.alive(), "the window should stay when sending fails")
        check(os.path.exists(draft), "the draft should stay when sending fails")
        session.focus(error)
        session.key("Escape")
        wait_for("the error message to close", lambda: not session.find("Message Not Sent"))

        os.remove(os.path.join(record, "fail"))
        session.focus(session.window)
        session.key("ctrl+Return")
        status = session.wait_end()
        check(status == 0, "the program should end with 0 after sending, not %d: %s"
              % (status, session.process.stderr.read().decode(errors="replace")))
        check(not os.path.exists(draft), "the draft should be removed once sent")

        calls = sorted(n for n in os.listdir(record) if n.startswith("call-"))
        check(len(calls) == 2, "the client should have run twice, ran %d times" % len(calls))
        with open(os.path.join(record, calls[1])) as f:
            call = json.load(f)
        argv = call["argv"]
        check(argv[:2] == ["send", "--silent"], "send --silent expected first: %r" % argv)

        def values(option):
            return [argv[i + 1] for i in range(len(argv) - 1) if argv[i] == option]

        check(values("--to") == ["Ann Example <ann@example.org>", "Bob Builder <bob@example.org>"],
              "To: %r" % values("--to"))
        check(values("--cc") == ["carol@example.org"], "Cc: %r" % values("--cc"))
        check(values("--bcc") == ["dave@example.org"], "Bcc: %r" % values("--bcc"))
        check(values("--subject") == ["Typed subject"], "Subject: %r" % values("--subject"))
        check(call["body"] == "Typed body", "body: %r" % call["body"])
        check(call["profile"] == "Work", "MAILBROKER_PROFILE: %r" % call["profile"])
        check(not any(";" in v for v in values("--attach")), "a ';' reached the client: %r" % argv)
        got = [(a["name"], bytes.fromhex(a["data"])) for a in call["attachments"]]
        check(got == [("report.pdf", read(report)), ("a_b.txt", read(semi))],
              "attachments: %r" % [(n, len(d)) for n, d in got])
        check(read(semi) == b"semicolon data\n", "the attachment's own file was changed")
    finally:
        session.stop()


def close_and_keep_or_discard(program, display, root, env):
    # Keep: the changed subject and attachments are saved before the window goes.
    folder, draft = make_store(os.path.join(root, "keep"))
    attachments = []
    for name in ("drop.txt", "keep.txt"):
        path = os.path.join(root, "keep", name)
        with open(path, "w") as f:
            f.write(name)
        attachments.append({"name": name, "path": path, "size": len(name)})
    session = Session(program, display, request_for(draft, attachments, "First"), env)
    try:
        session.key("alt+u", "End")  # the Subject field's mnemonic
        session.type(" and more")
        session.key("alt+h")  # the attachments, the first one selected
        session.key("Delete")
        added = os.path.join(root, "keep", "added file.txt")
        with open(added, "w") as f:
            f.write("added by the file chooser")
        session.key("alt+a")
        chooser = wait_for("the file chooser", lambda: session.find("Attach Files"))
        session.focus(chooser)
        session.key("ctrl+l")
        session.type(added)
        session.key("Return")
        wait_for("the file chooser to close", lambda: not session.find("Attach Files"))
        session.focus(session.window)
        session.key("ctrl+w")
        prompt = wait_for("the question", lambda: session.find("Keep This Message?"))
        session.focus(prompt)
        session.key("Return")  # Keep has the focus
        check(session.wait_end() == 0, "the program should end after Keep")
        names = drafts(folder)
        check(len(names) == 1 and os.path.join(folder, "new", names[0]) != draft,
              "Keep should replace the draft: %r" % names)
        text = read(os.path.join(folder, "new", names[0])).decode("utf-8", "replace")
        check("Subject: First and more" in text, "the kept draft lacks the subject:\n" + text)
        check("filename=keep.txt" in text and "drop.txt" not in text,
              "Delete should have removed drop.txt, and only it:\n" + text)
        check('filename="added file.txt"' in text,
              "the file added through the chooser is missing:\n" + text)
    finally:
        session.stop()

    # Keep with nothing changed: the draft stays as it was, not written again.
    folder, draft = make_store(os.path.join(root, "unchanged"))
    before = read(draft)
    session = Session(program, display, request_for(draft, []), env)
    try:
        session.key("Escape")
        prompt = wait_for("the question", lambda: session.find("Keep This Message?"))
        session.focus(prompt)
        session.key("Return")
        check(session.wait_end() == 0, "the program should end after Keep")
        check(drafts(folder) == [os.path.basename(draft)] and read(draft) == before,
              "an unchanged draft should stay as it was: %r" % drafts(folder))
    finally:
        session.stop()

    # Discard: the draft goes.
    folder, draft = make_store(os.path.join(root, "discard"))
    session = Session(program, display, request_for(draft, []), env)
    try:
        session.key("Escape")
        prompt = wait_for("the question", lambda: session.find("Keep This Message?"))
        session.focus(prompt)
        session.key("alt+d")
        check(session.wait_end() == 0, "the program should end after Discard")
        check(drafts(folder) == [], "Discard should remove the draft: %r" % drafts(folder))
    finally:
        session.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--screenshot")
    options = parser.parse_args()
    # The window outlives the process that shows it (it must outlive the
    # Broker); adopting it lets the test wait for it and read its exit.
    PR_SET_CHILD_SUBREAPER = 36
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    for tool in ("Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            print("compose_test: %s is missing" % tool, file=sys.stderr)
            return 1
    root = tempfile.mkdtemp(prefix="compose-test-")
    client = os.path.join(root, "fake-client")
    with open(client, "w") as f:
        f.write(FAKE_CLIENT)
    os.chmod(client, 0o755)
    env = dict(os.environ, MAILBROKER_CLIENT=client, LC_ALL="C.UTF-8", LANGUAGE="",
               XDG_RUNTIME_DIR=root, HOME=root, GSK_RENDERER="cairo")
    server = XServer()
    try:
        save_and_send(options.program, server.display, root, env, options.screenshot)
        print("save and send: ok")
        close_and_keep_or_discard(options.program, server.display, root, env)
        print("close, keep and discard: ok")
    except Failure as failure:
        print("compose_test: FAILED: %s" % failure, file=sys.stderr)
        return 1
    finally:
        server.close()
        shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
