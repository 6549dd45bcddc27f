#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""What waits, end to end through mailbroker-client and a Broker.

A refused login (535) marks the message "needs attention" with the reason:
send's filed: line says it, the desktop is told once (a stub notify-send on
PATH records it), later logons leave it alone until profiles.ini changes,
`queue` lists it and `check` names the login as the step that failed. The
sent copy reaches a loopback IMAP server, and one that failed is appended
later without holding delivery back. A broken profiles.ini is named by file
and line.

Usage: queue_test.py --bin DIR --smtp-server PATH --imap-server PATH
"""
import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None


class Harness(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="mb_queue_")
        runtime = os.path.join(self.root, "runtime")
        os.makedirs(runtime, mode=0o700)
        stubs = os.path.join(self.root, "stubs")
        os.makedirs(stubs)
        self.notices = os.path.join(self.root, "notices.txt")
        with open(os.path.join(stubs, "notify-send"), "w", encoding="utf-8") as f:
            f.write("#!/bin/sh\nprintf '%%s|' \"$@\" >> '%s'\necho >> '%s'\n"
                    % (self.notices, self.notices))
        os.chmod(os.path.join(stubs, "notify-send"), 0o755)
        self.env = dict(os.environ)
        self.env.update({
            "HOME": self.root,
            "XDG_CONFIG_HOME": os.path.join(self.root, "config"),
            "XDG_DATA_HOME": os.path.join(self.root, "data"),
            "XDG_STATE_HOME": os.path.join(self.root, "state"),
            "XDG_RUNTIME_DIR": runtime,
            "PATH": stubs + ":" + os.environ.get("PATH", "/usr/bin:/bin"),
            # A desktop as far as the provider can tell; the stub answers.
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(self.root, "no-bus"),
        })
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "MAILBROKER_PROFILE",
                     "MAILBROKER_PROVIDER_LOG", "MAILBROKER_FLUSH"):
            self.env.pop(name, None)
        os.makedirs(os.path.join(self.root, "config", "mailbroker"))
        self.servers = []
        self.store = os.path.join(self.root, "data", "mailbroker", "Default")

    def tearDown(self):
        for server in self.servers:
            server.kill()
            server.wait()
            server.stdout.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def start(self, script, name, *extra):
        folder = os.path.join(self.root, name)
        os.makedirs(folder, exist_ok=True)
        server = subprocess.Popen([sys.executable, script, "--dir", folder] + list(extra),
                                  stdout=subprocess.PIPE)
        self.servers.append(server)
        port = int(server.stdout.readline())
        return server, port, folder

    def profiles(self, text):
        with open(os.path.join(self.root, "config", "mailbroker", "profiles.ini"), "w",
                  encoding="utf-8") as f:
            f.write("[profile Default]\ndefault = true\nsender_address = me@example.org\n"
                    "timeout = 10\n" + text)

    def client(self, *args):
        run = subprocess.run([os.path.join(ARGS.bin, "mailbroker-client")] + list(args),
                             env=self.env, capture_output=True, text=True, timeout=60)
        return run.returncode, run.stdout, run.stderr

    def log(self):
        path = os.path.join(self.root, "state", "mailbroker", "provider.log")
        if not os.path.exists(path):
            return ""
        with open(path, encoding="utf-8") as f:
            return f.read()

    def outbox(self):
        return sorted(glob.glob(os.path.join(self.store, "Outbox", "new", "*")))

    def record(self, message):
        with open(os.path.join(self.store, ".retry", os.path.basename(message)),
                  encoding="utf-8") as f:
            return f.read()

    def notice_lines(self):
        if not os.path.exists(self.notices):
            return []
        with open(self.notices, encoding="utf-8") as f:
            return [line for line in f.read().splitlines() if line]


class NeedsAttention(Harness):
    def test_refused_login_waits_for_the_user_and_says_why(self):
        _, port, received = self.start(ARGS.smtp_server, "smtp", "--auth", "ann:right-one")
        self.profiles("transport = smtp://127.0.0.1:%d\nusername = ann\npassword = wrong-one\n"
                      % port)
        code, out, err = self.client("send", "--silent", "--to", "bob@example.org",
                                     "--subject", "Quarterly report", "--body", "x")
        # Queued, not lost: the command did what it was asked.
        self.assertEqual(code, 0, out + err)
        self.assertIn("/Outbox/new/", out)
        self.assertIn("(queued, not lost): needs attention", out)
        self.assertIn("535", out)
        self.assertNotIn("wrong-one", out + err + self.log())
        [message] = self.outbox()
        record = self.record(message)
        self.assertIn("mailbroker-retry 2\n", record)
        self.assertIn("state attention\n", record)
        self.assertIn("attempts 1\n", record)
        self.assertIn("notified yes\n", record)
        [notice] = self.notice_lines()
        self.assertIn("Quarterly report", notice)
        self.assertIn("535", notice)

        # Later logons do not knock on the server with the same login.
        self.assertEqual(self.client("profile")[0], 0)
        self.assertEqual(self.client("profile")[0], 0)
        self.assertIn("attempts 1\n", self.record(message))
        self.assertEqual(len(self.notice_lines()), 1)

        code, out, _ = self.client("queue")
        self.assertEqual(code, 0)
        self.assertIn("profile Default: 1 waiting, 0 undeliverable", out)
        line = [l for l in out.splitlines() if "Quarterly report" in l]
        self.assertEqual(len(line), 1, out)
        self.assertIn("bob@example.org", line[0])
        self.assertIn("needs attention (attempt 1", line[0])
        self.assertIn("535", line[0])

        code, out, err = self.client("check")
        self.assertEqual(code, 6, out + err)
        self.assertIn("greeting: ok", out)
        self.assertIn("login: FAILED", out)
        self.assertIn("535", out)
        self.assertIn("result: login failed", out)
        self.assertNotIn("wrong-one", out)

        # A flush tries again, and the record counts it; still once on the desktop.
        code, out, _ = self.client("flush")
        self.assertEqual(code, 0, out)
        self.assertIn("attempts 2\n", self.record(message))
        self.assertEqual(len(self.notice_lines()), 1)

        # Mended in profiles.ini: the next logon delivers it.
        self.profiles("transport = smtp://127.0.0.1:%d\nusername = ann\npassword = right-one\n"
                      % port)
        self.assertEqual(self.client("profile")[0], 0)
        self.assertEqual(self.outbox(), [])
        self.assertEqual(len(glob.glob(os.path.join(received, "received", "*.eml"))) +
                         len(glob.glob(os.path.join(received, "*.eml"))), 1)
        code, out, err = self.client("check")
        self.assertEqual(code, 0, out + err)
        self.assertIn("login: ok: AUTH", out)
        self.assertIn("noop: ok", out)

    def test_server_down_is_retried_on_the_schedule_without_a_notice(self):
        server, port, _ = self.start(ARGS.smtp_server, "smtp")
        server.kill()
        server.wait()
        self.profiles("transport = smtp://127.0.0.1:%d\n" % port)
        code, out, _ = self.client("send", "--silent", "--to", "bob@example.org",
                                   "--subject", "s", "--body", "x")
        self.assertEqual(code, 0)
        self.assertIn("not delivered yet (attempt 1, next at", out)
        [message] = self.outbox()
        self.assertIn("state waiting\n", self.record(message))
        self.assertEqual(self.notice_lines(), [])
        code, out, _ = self.client("check")
        self.assertEqual(code, 6)
        self.assertIn("connect: FAILED", out)

    def test_broken_profiles_are_named_by_line(self):
        self.profiles("colour = blue\n")
        code, _, err = self.client("profile")
        self.assertEqual(code, 6)
        self.assertIn("profiles.ini:5: unknown key 'colour'", err)
        code, out, err = self.client("queue")
        self.assertEqual(code, 6)
        self.assertIn("profiles.ini:5: unknown key 'colour'", err)


class SentCopy(Harness):
    def test_delivered_messages_reach_the_imap_folder(self):
        _, smtp_port, _ = self.start(ARGS.smtp_server, "smtp", "--auth", "ann:pw-123")
        imap, imap_port, copies = self.start(ARGS.imap_server, "imap", "--login", "ann:pw-123")
        account = ("transport = smtp://127.0.0.1:%d\nusername = ann\npassword = pw-123\n"
                   "sent_copy = imap://127.0.0.1:%%d/Sent Items\n" % smtp_port)
        self.profiles(account % imap_port)
        code, out, err = self.client("send", "--silent", "--to", "bob@example.org",
                                     "--bcc", "eve@example.org", "--subject", "copy me",
                                     "--body", "hello")
        self.assertEqual(code, 0, out + err)
        self.assertIn("/Sent Items/new/", out)
        appended = sorted(glob.glob(os.path.join(copies, "*.eml")))
        self.assertEqual(len(appended), 1, self.log())
        copy = appended[0]
        with open(copy, "rb") as f:
            data = f.read()
        self.assertIn(b"Subject: copy me", data)
        self.assertIn(b"Bcc: eve@example.org", data)  # the sender's own copy
        self.assertNotIn(b"X-Mailbroker-", data)
        self.assertIn(b"\r\n", data)
        with open(copy[:-4] + ".json", encoding="utf-8") as f:
            self.assertEqual(json.load(f), {"folder": "Sent Items", "login": "ann"})

        # The IMAP server away: delivery goes on, the copy waits and follows.
        imap.kill()
        imap.wait()
        code, out, _ = self.client("send", "--silent", "--to", "bob@example.org",
                                   "--subject", "later copy", "--body", "x")
        self.assertEqual(code, 0)
        self.assertIn("/Sent Items/new/", out)
        self.assertIn("was not appended", self.log())
        self.assertEqual(len(os.listdir(os.path.join(self.store, ".sent-copy"))), 1)
        _, _, later = self.start(ARGS.imap_server, "imap-again", "--login", "ann:pw-123",
                                 "--port", str(imap_port))
        self.assertEqual(self.client("flush")[0], 0)
        self.assertEqual(os.listdir(os.path.join(self.store, ".sent-copy")), [])
        self.assertEqual(os.listdir(os.path.join(self.store, ".sent-copy-retry")), [])
        [copy] = glob.glob(os.path.join(later, "*.eml"))
        with open(copy, "rb") as f:
            self.assertIn(b"Subject: later copy", f.read())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--smtp-server", required=True)
    parser.add_argument("--imap-server", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
