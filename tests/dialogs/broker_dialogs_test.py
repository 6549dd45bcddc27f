#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The desktop dialogs end to end: mailbroker-client starts a real Broker,
which loads the provider, which runs mailbroker-dialogs on a private X
server; the test answers each dialog with the keyboard, as a person would, and
checks what reaches the host (and, for the compose window, a loopback SMTP
server).

    broker_dialogs_test.py --list      the test names (ctest registers dialogs.broker.NAME)
    broker_dialogs_test.py NAME...     run those

MB_BIN names the folder holding mailbroker-client, mailbroker, libmapi32.so
and mailbroker-dialogs (default: build/default/bin); MB_SMTP_SERVER the
loopback SMTP server script, run with /usr/bin/python3 (python3-aiosmtpd).
"""
import ctypes
import email
import email.policy
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from xsession import XSession  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
BIN = pathlib.Path(os.environ.get("MB_BIN", str(ROOT / "build/default/bin")))
SMTP_SERVER = os.environ.get("MB_SMTP_SERVER", str(ROOT / "tests/smtp/smtp_server.py"))
SCREENSHOTS = os.environ.get("MB_SCREENSHOT_DIR")
WAIT = 20.0

CARDS = """BEGIN:VCARD
VERSION:3.0
UID:ann-archer
FN:Ann Archer
EMAIL:ann.archer@example.org
END:VCARD
BEGIN:VCARD
VERSION:3.0
UID:ann-baker
FN:Ann Baker
EMAIL:ann.baker@example.org
END:VCARD
BEGIN:VCARD
VERSION:3.0
UID:bob
FN:Bob Builder
EMAIL:bob@example.org
END:VCARD
"""


def wait_until(what, predicate, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for %s" % what)
        time.sleep(0.05)


class BrokerDialogs(unittest.TestCase):
    """A home of its own (profiles, store, cards, runtime folder) and an X server."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="mb-broker-dialogs-")
        self.addCleanup(shutil.rmtree, self.root, True)
        for folder in ("config/mailbroker", "data", "runtime"):
            os.makedirs(os.path.join(self.root, folder), mode=0o700)
        self.cards = self.write("cards.vcf", CARDS)
        self.x = XSession()
        self.x.start()
        self.addCleanup(self.x.stop)
        self.windows = []  # compose windows, which outlive the Broker
        self.addCleanup(self.kill_windows)

    def write(self, relative, text, mode="w"):
        path = os.path.join(self.root, relative)
        with open(path, mode) as f:
            f.write(text)
        return path

    def profiles(self, text):
        self.write("config/mailbroker/profiles.ini", text)

    def profile(self, name="home", extra=""):
        return ("[profile %s]\ndefault = true\nui = desktop\ntransport = none\n"
                "sender_address = me@example.org\naddress_books = %s\n%s" % (name, self.cards, extra))

    def env(self):
        return self.x.env({
            "XDG_CONFIG_HOME": os.path.join(self.root, "config"),
            "XDG_DATA_HOME": os.path.join(self.root, "data"),
            "XDG_RUNTIME_DIR": os.path.join(self.root, "runtime"),
            "MAILBROKER_PROVIDER_LOG": os.path.join(self.root, "provider.log"),
        })

    def client(self, *args):
        """mailbroker-client ARGS, running; (process) to be finished with done()."""
        process = subprocess.Popen([str(BIN / "mailbroker-client"), *args], env=self.env(),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def done(self, process):
        try:
            out, err = process.communicate(timeout=WAIT)
        except subprocess.TimeoutExpired:
            process.kill()
            raise AssertionError("the client did not finish: %s" % self.log())
        return process.returncode, out, err

    def log(self):
        try:
            with open(os.path.join(self.root, "provider.log")) as f:
                return f.read()
        except OSError:
            return ""

    def dialog(self, title):
        window = self.x.find_window(title, timeout=WAIT)
        self.x.focus(window)
        return window

    def shot(self, window, name):
        if SCREENSHOTS:
            self.x.screenshot(window, os.path.join(SCREENSHOTS, name))

    def outbox(self, profile="home"):
        folder = os.path.join(self.root, "data/mailbroker", profile, "Outbox/new")
        names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        messages = []
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                messages.append(email.message_from_binary_file(f, policy=email.policy.default))
        return messages

    def kill_windows(self):
        for pid in self.windows:
            try:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
            except (ProcessLookupError, ChildProcessError):
                pass

    # --- Check Names -----------------------------------------------------

    def test_check_names_picks_the_second_ann_for_a_silent_send(self):
        self.profiles(self.profile())
        client = self.client("send", "--silent", "--to", "Ann", "--subject", "x")
        self.dialog("Check Names")
        self.x.key("Down", "Return")
        code, out, err = self.done(client)
        self.assertEqual(code, 0, err + self.log())
        [message] = self.outbox()
        self.assertEqual(message["To"], "Ann Baker <ann.baker@example.org>")

    def test_check_names_takes_a_typed_address(self):
        self.profiles(self.profile())
        client = self.client("send", "--silent", "--to", "Zed", "--subject", "x")
        self.dialog("Check Names")
        self.x.key("alt+u")
        self.x.type("zed@example.net")
        self.x.key("Return")
        code, out, err = self.done(client)
        self.assertEqual(code, 0, err + self.log())
        [message] = self.outbox()
        self.assertIn("zed@example.net", message["To"])

    def test_cancel_reaches_the_host_and_nothing_is_sent(self):
        self.profiles(self.profile())
        client = self.client("send", "--silent", "--to", "Ann", "--subject", "x")
        self.dialog("Check Names")
        self.x.key("Escape")
        code, out, err = self.done(client)
        self.assertNotEqual(code, 0)
        self.assertIn("MAPI_E_USER_CANCEL", err)
        self.assertEqual(self.outbox(), [])

    def test_the_dialog_is_transient_for_the_hosts_window(self):
        self.profiles(self.profile())
        parent = self.x.client().create_window("Host document")
        client = self.client("send", "--silent", "--to", "Ann", "--subject", "x",
                             "--parent", str(parent))
        window = self.dialog("Check Names")
        self.assertEqual(self.x.transient_for(window), parent)
        self.x.key("Return")
        self.assertEqual(self.done(client)[0], 0)

    def test_a_dialog_closes_when_its_host_ends(self):
        self.profiles(self.profile())
        client = self.client("send", "--silent", "--to", "Ann", "--subject", "x")
        self.dialog("Check Names")
        client.kill()  # the host is gone; its Broker follows, and the dialog with it
        client.wait()
        wait_until("the dialog to close", lambda: not self.x.windows("Check Names"))
        self.assertEqual(self.outbox(), [])

    # --- Select Names ----------------------------------------------------

    def test_select_names_adds_to_to_and_bcc(self):
        self.profiles(self.profile())
        client = self.client("addrs", "--show-address-book", "--to", "", "--bcc", "",
                             "--caption", "Recipients")
        window = self.dialog("Select Names")
        self.x.type("Ann Baker")
        self.x.key("Return")  # the match goes to the first well, To
        self.x.type("Bob")
        self.x.key("alt+b")
        self.shot(window, "broker-select-names.png")
        self.x.key("ctrl+Return")
        code, out, err = self.done(client)
        self.assertEqual(code, 0, err + self.log())
        self.assertIn("to=ann.baker@example.org\n", out)
        self.assertIn("bcc=bob@example.org\n", out)

    def test_the_address_book_alone_offers_one_to_well(self):
        self.profiles(self.profile())
        client = self.client("addrs", "--show-address-book")
        self.dialog("Select Names")
        self.x.type("Ann Archer")
        self.x.key("Return", "ctrl+Return")
        code, out, err = self.done(client)
        self.assertEqual(code, 0, err + self.log())
        self.assertIn("to=ann.archer@example.org\n", out)

    # --- Choose Profile --------------------------------------------------

    def test_choose_profile_logs_on_to_the_chosen_one(self):
        self.profiles(self.profile("home").replace("default = true\n", "") +
                      "display_name = Home\n" +
                      self.profile("work").replace("default = true\n", "") +
                      "display_name = Work mail\n")
        client = self.client("send", "--silent", "--to", "bob@example.org", "--subject", "x")
        window = self.dialog("Choose Profile")
        self.shot(window, "broker-choose-profile.png")
        self.x.key("Down", "Return")
        code, out, err = self.done(client)
        self.assertEqual(code, 0, err + self.log())
        self.assertEqual(self.outbox("home"), [])
        [message] = self.outbox("work")  # filed in the chosen profile's store
        self.assertEqual(message["To"], "Bob Builder <bob@example.org>")

    # --- New Message -----------------------------------------------------

    def test_the_compose_window_sends_through_the_profile_with_its_attachments(self):
        smtp_dir = os.path.join(self.root, "smtp")
        os.makedirs(smtp_dir)
        server = subprocess.Popen(["/usr/bin/python3", SMTP_SERVER, "--dir", smtp_dir],
                                  stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (server.kill(), server.wait()))
        port = int(server.stdout.readline())
        self.profiles(self.profile(extra="compose = builtin\ntransport = smtp://127.0.0.1:%d\n"
                                   % port).replace("transport = none\n", ""))
        payload = bytes(range(256)) * 64 + b"\r\n\x00end"
        attachment = self.write("figures.bin", payload, "wb")
        client = self.client("send", "--to", "ann.archer@example.org", "--subject", "Figures",
                             "--body", "Here they are.", "--attach", attachment)
        code, out, err = self.done(client)  # back as soon as the window is up
        self.assertEqual(code, 0, err + self.log())
        window = self.dialog("New Message")
        self.windows.append(int(self.x.tool("xdotool", "getwindowpid", str(window)).strip()))
        self.x.key("ctrl+Return")
        sent = wait_until("the message at the SMTP server",
                          lambda: [n for n in os.listdir(smtp_dir) if n.endswith(".eml")],
                          timeout=60)
        with open(os.path.join(smtp_dir, sent[0]), "rb") as f:
            message = email.message_from_binary_file(f, policy=email.policy.default)
        self.assertEqual(message["Subject"], "Figures")
        self.assertIn("ann.archer@example.org", message["To"])
        parts = [p for p in message.iter_attachments()]
        self.assertEqual([p.get_filename() for p in parts], ["figures.bin"])
        self.assertEqual(parts[0].get_content(), payload)
        wait_until("the window to close", lambda: not self.x.windows("New Message"))


def main(argv):
    # Compose windows outlive the Broker that opened them; adopting them lets
    # the test reap what it kills.
    ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
    loader = unittest.TestLoader()
    names = loader.getTestCaseNames(BrokerDialogs)
    if argv[1:] == ["--list"]:
        print("\n".join(n[len("test_"):] for n in names))
        return 0
    wanted = argv[1:] or [n[len("test_"):] for n in names]
    suite = unittest.TestSuite(BrokerDialogs("test_" + n) for n in wanted)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
