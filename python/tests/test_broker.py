# SPDX-License-Identifier: MIT
"""The module against a real Broker built in this tree, with the real
provider beside it, private profiles, store and address book, a headless
dialog script, and the loopback SMTP server of the C++ process tests.

MAILBROKER_BROKER names the Broker (build/default/bin/mailbroker by
default); MB_SMTP_SERVER the server script, run with /usr/bin/python3.
"""

import email
import email.policy
import hashlib
import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

import mailbroker
from mailbroker import status

ROOT = pathlib.Path(__file__).resolve().parents[2]
BROKER = os.environ.get("MAILBROKER_BROKER") or str(ROOT / "build/default/bin/mailbroker")
SMTP_SERVER = os.environ.get("MB_SMTP_SERVER", str(ROOT / "tests/smtp/smtp_server.py"))

CARDS = (
    "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:ann\r\nFN:Ann Example\r\nEMAIL:ann@example.org\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:bob\r\nFN:Bob Builder\r\nEMAIL:bob@example.org\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:ann2\r\nFN:Ann Other\r\nEMAIL:ann.other@example.org\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Team\r\nUID:Team\r\n"
    "MEMBER:urn:uuid:bob\r\nMEMBER:mailto:t1@example.org\r\nEND:VCARD\r\n"
)


class Home(unittest.TestCase):
    """A home of its own for each test: profiles, store, cards, UI script, pipes."""

    def setUp(self):
        if not os.access(BROKER, os.X_OK):
            self.fail("no Broker at %s: build the mailbroker target" % BROKER)
        self.root = tempfile.mkdtemp(prefix="mb-py-broker-")
        self.addCleanup(shutil.rmtree, self.root, True)
        for folder in ("config/mailbroker", "data", "state", "runtime"):
            os.makedirs(os.path.join(self.root, folder), mode=0o700)
        self.cards = self.write("cards.vcf", CARDS)
        self.script = self.write("ui.script", "")
        # The pipe folder is this process's as much as the Broker's.
        saved = {k: os.environ.get(k) for k in ("XDG_RUNTIME_DIR", "MAILBROKER_BROKER")}
        self.addCleanup(self.restore, saved)
        os.environ["XDG_RUNTIME_DIR"] = os.path.join(self.root, "runtime")
        os.environ["MAILBROKER_BROKER"] = BROKER

    @staticmethod
    def restore(saved):
        for key, value in saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value

    def write(self, relative, text, mode="w"):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, mode) as f:
            f.write(text)
        return path

    def profiles(self, transport="none", extra=""):
        self.write(
            "config/mailbroker/profiles.ini",
            "[profile Default]\ndefault = true\ndisplay_name = Test mail\n"
            "sender_address = me@example.org\ntimeout = 10\n"
            "transport = %s\naddress_books = %s\n%s" % (transport, self.cards, extra),
        )

    def env(self):
        return {
            "XDG_CONFIG_HOME": os.path.join(self.root, "config"),
            "XDG_DATA_HOME": os.path.join(self.root, "data"),
            "XDG_STATE_HOME": os.path.join(self.root, "state"),
            "MAILBROKER_UI_SCRIPT": self.script,
            "MAILBROKER_PROVIDER_LOG": os.path.join(self.root, "provider.log"),
            # Nothing reaches the desktop of whoever runs the tests.
            "DISPLAY": None,
            "WAYLAND_DISPLAY": None,
            "DBUS_SESSION_BUS_ADDRESS": None,
        }

    def broker(self):
        broker = mailbroker.Broker(env=self.env(), output=os.path.join(self.root, "broker.out"))
        self.addCleanup(broker.close)
        return broker

    def log(self):
        try:
            with open(os.path.join(self.root, "provider.log")) as f:
                return f.read()
        except OSError:
            return ""

    def store(self, folder):
        path = os.path.join(self.root, "data/mailbroker/Default", folder)
        return sorted(os.listdir(path)) if os.path.isdir(path) else []

    def smtp_server(self):
        spool = os.path.join(self.root, "smtp")
        os.makedirs(spool)
        server = subprocess.Popen(
            ["/usr/bin/python3", SMTP_SERVER, "--dir", spool],
            stdout=subprocess.PIPE,
            text=True,
        )
        self.addCleanup(lambda: (server.kill(), server.wait(), server.stdout.close()))
        port = int(server.stdout.readline())
        return spool, port


class SendMail(Home):
    def test_a_silent_send_with_an_attachment_reaches_the_smtp_server(self):
        spool, port = self.smtp_server()
        self.profiles("smtp://127.0.0.1:%d" % port)
        data = bytes((i * 131 + i // 977) % 256 for i in range(70000))
        attachment = self.write("docs/r\u00e9sum\u00e9 1.bin", data, "wb")
        with self.broker() as broker:
            result = broker.send_mail(
                to=["Ann Example"],
                cc=["carl@example.org"],
                bcc="dora@example.org",
                subject="Gr\u00fc\u00dfe \u20ac",
                body="Hello\n\u00e4\u00f6\u00fc",
                attachments=[attachment],
            )
        self.assertEqual(result, mailbroker.SendResult(0, "S_OK", 1, (attachment,)))
        received = sorted(n for n in os.listdir(spool) if n.endswith(".eml"))
        self.assertEqual(received, ["0001.eml"], self.log())
        with open(os.path.join(spool, "0001.json")) as f:
            envelope = json.load(f)
        self.assertEqual(
            envelope["rcpt_tos"], ["ann@example.org", "carl@example.org", "dora@example.org"]
        )
        with open(os.path.join(spool, "0001.eml"), "rb") as f:
            message = email.message_from_binary_file(f, policy=email.policy.default)
        self.assertEqual(message["Subject"], "Gr\u00fc\u00dfe \u20ac")
        self.assertEqual(message["To"], "Ann Example <ann@example.org>")
        self.assertIsNone(message["Bcc"])
        self.assertEqual(message.get_body(("plain",)).get_content().rstrip("\r\n"), "Hello\n\u00e4\u00f6\u00fc")
        [part] = list(message.iter_attachments())
        self.assertEqual(part.get_filename(), "r\u00e9sum\u00e9 1.bin")
        self.assertEqual(
            hashlib.sha256(part.get_content()).hexdigest(), hashlib.sha256(data).hexdigest()
        )
        self.assertEqual(len(self.store("Sent Items/new")), 1)

    def test_a_connection_serves_one_request_after_another(self):
        self.profiles()
        with self.broker() as broker:
            with broker.connect() as connection:
                first = connection.send_mail(to="a@example.org", subject="one")
                second = connection.send_mail(to="b@example.org", subject="two")
                self.assertEqual((first.result, second.result), (1, 1))
                self.assertEqual(connection.profile_name().display_name, "Test mail")
        self.assertEqual(len(self.store("Outbox/new")), 2)

    def test_a_missing_attachment_is_named_and_nothing_is_filed(self):
        self.profiles()
        missing = os.path.join(self.root, "gone.pdf")
        with self.broker() as broker:
            # Checked here first: the Broker never hears of it.
            with self.assertRaises(mailbroker.AttachmentError) as caught:
                broker.send_mail(to="a@example.org", attachments=[missing])
            self.assertFalse(caught.exception.from_broker)
            # Left to the Broker, which refuses the silent message whole.
            with self.assertRaises(mailbroker.AttachmentError) as caught:
                broker.send_mail(
                    to="a@example.org", attachments=[missing], check_attachments=False
                )
        e = caught.exception
        self.assertTrue(e.from_broker)
        self.assertEqual((e.path, e.status, e.status_name), (missing, status.MAPI_E_NOT_FOUND, "MAPI_E_NOT_FOUND"))
        self.assertEqual(e.reply.values, {"error": str(status.MAPI_E_NOT_FOUND), "result": "0"})
        self.assertIn("attachment %s cannot be read" % missing, str(e))
        self.assertEqual(self.store("Outbox/new"), [])

    def test_a_file_the_broker_cannot_read_whole_is_named(self):
        self.profiles()
        with self.broker() as broker:
            with self.assertRaises(mailbroker.AttachmentError) as caught:
                broker.send_mail(
                    to="a@example.org", attachments=["/proc/self/status"], check_attachments=False
                )
        self.assertEqual(caught.exception.status, status.MAPI_E_NO_ACCESS)
        self.assertEqual(caught.exception.path, "/proc/self/status")

    def test_a_cancelled_dialog_is_user_cancelled_and_nothing_is_sent(self):
        self.profiles()
        self.write("ui.script", "resolve cancel\n")
        with self.broker() as broker:
            with self.assertRaises(mailbroker.UserCancelled) as caught:
                broker.send_mail(to="Ann", subject="x")  # two cards match
        self.assertEqual(caught.exception.status, status.MAPI_E_USER_CANCEL)
        self.assertEqual(self.store("Outbox/new"), [])

    def test_a_failed_logon_is_a_mapi_error(self):
        self.write(
            "config/mailbroker/profiles.ini", "[profile Test]\ndisplay_name = x\ntransport = none\n"
        )
        with self.broker() as broker:
            with self.assertRaises(mailbroker.MapiError) as caught:
                broker.send_mail(to="a@example.org")
        self.assertLess(caught.exception.status, 0)
        self.assertTrue(caught.exception.status_name.startswith("MAPI_E_"), caught.exception.status_name)


class GetAddresses(Home):
    def test_names_resolve_against_the_vcards_and_lists_expand(self):
        self.profiles()
        with self.broker() as broker:
            result = broker.get_addresses(
                to=["Ann Example", "someone@example.net"], bcc=["Team"]
            )
        self.assertEqual(
            result,
            mailbroker.AddressResult(
                0, "S_OK", ["ann@example.org", "someone@example.net"], [],
                ["bob@example.org", "t1@example.org"],
            ),
        )

    def test_the_address_book_dialog_fills_the_wells(self):
        self.profiles()
        self.write("ui.script", "address to: Bob Builder | cc: zed@example.net\n")
        with self.broker() as broker:
            result = broker.get_addresses(to=[], cc=[], show_address_book=True, caption="Pick")
        self.assertEqual((result.to, result.cc, result.bcc), (["bob@example.org"], ["zed@example.net"], []))

    def test_an_ambiguous_name_is_asked_about(self):
        self.profiles()
        self.write("ui.script", "resolve pick 2\n")
        with self.broker() as broker:
            result = broker.get_addresses(to="Ann")
        self.assertEqual(len(result.to), 1)
        self.assertIn(result.to[0], ("ann@example.org", "ann.other@example.org"))

    def test_an_address_that_cannot_be_resolved_fails_with_the_texts(self):
        self.profiles()
        with self.broker() as broker:
            with self.assertRaises(mailbroker.MapiError) as caught:
                broker.get_addresses(to=["a..b@example.org"])
        self.assertEqual(caught.exception.status, status.MAPI_E_INVALID_PARAMETER)
        self.assertEqual(caught.exception.reply.values.get("to"), "a..b@example.org")


class ProfileName(Home):
    def test_the_default_profiles_name(self):
        self.profiles()
        with self.broker() as broker:
            self.assertEqual(
                broker.profile_name("Fallback"), mailbroker.ProfileResult(0, "S_OK", "Test mail")
            )


class Failures(Home):
    def test_no_broker_where_looked_is_broker_not_found(self):
        with self.assertRaises(mailbroker.BrokerNotFound) as caught:
            mailbroker.Broker(os.path.join(self.root, "no-such-broker"))
        self.assertEqual(caught.exception.paths, (os.path.join(self.root, "no-such-broker"),))
        os.environ["MAILBROKER_BROKER"] = os.path.join(self.root, "nor-here")
        with self.assertRaises(mailbroker.BrokerNotFound) as caught:
            mailbroker.Broker()
        self.assertIn("MAILBROKER_BROKER", str(caught.exception))
        # Without either, the installed path is looked at (this tree's module
        # names /usr/lib/mailbroker/mailbroker, absent here or not, but a path).
        del os.environ["MAILBROKER_BROKER"]
        self.assertTrue(os.path.isabs(mailbroker.broker._paths.BROKER_PATH))

    def test_the_broker_is_looked_for_in_order(self):
        os.environ["MAILBROKER_BROKER"] = os.path.join(self.root, "nor-here")
        self.assertEqual(mailbroker.find_broker(BROKER), BROKER)  # the argument first
        os.environ["MAILBROKER_BROKER"] = BROKER
        self.assertEqual(mailbroker.find_broker(), BROKER)  # then the environment
        os.environ["MAILBROKER_BROKER"] = ""  # empty: as if unset
        installed = os.path.join(self.root, "installed-broker")
        saved = mailbroker.broker._paths.BROKER_PATH
        self.addCleanup(setattr, mailbroker.broker._paths, "BROKER_PATH", saved)
        mailbroker.broker._paths.BROKER_PATH = installed
        with self.assertRaises(mailbroker.BrokerNotFound) as caught:
            mailbroker.find_broker()
        self.assertEqual(caught.exception.paths, (installed,))
        shutil.copy(BROKER, installed)
        self.assertEqual(mailbroker.find_broker(), installed)

    def test_a_program_that_ends_at_once_is_a_start_error(self):
        fake = self.write("fake-broker", "#!/bin/sh\nexit 3\n")
        os.chmod(fake, 0o755)
        broker = mailbroker.Broker(fake)
        self.addCleanup(broker.close)
        with self.assertRaises(mailbroker.BrokerStartError) as caught:
            broker.profile_name()
        self.assertIn("exit code 3", str(caught.exception))

    def test_a_pipe_that_is_not_there(self):
        with self.assertRaises(mailbroker.PipeNotFound):
            mailbroker.connect("mailbroker-py-nobody", timeout=0.3)

    def test_close_stops_the_broker_and_its_pipe(self):
        self.profiles()
        broker = self.broker()
        self.assertEqual(broker.profile_name().status, 0)
        pid, name = broker.pid, broker.pipe_name
        broker.close()
        broker.close()  # again: nothing more to do
        self.assertFalse(os.path.exists("/proc/%d" % pid) and _not_zombie(pid))
        # Killed, it leaves its socket file with nobody listening: busy to a
        # client, as a pipe whose instances are all taken, until the time is up.
        with self.assertRaises((mailbroker.PipeNotFound, mailbroker.PipeBusy)):
            mailbroker.connect(name, timeout=0.3)

    def test_the_broker_ends_when_its_host_process_ends(self):
        self.profiles()
        host = subprocess.Popen(["sleep", "60"])
        self.addCleanup(lambda: (host.kill(), host.wait()))
        broker = mailbroker.Broker(host_pid=host.pid, env=self.env())
        self.addCleanup(broker.close)
        self.assertEqual(broker.profile_name().display_name, "Test mail")
        host.kill()
        host.wait()
        try:
            broker._process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.fail("the Broker outlived its host")
        self.assertFalse(broker.running())

    def test_output_that_cannot_be_written_is_a_start_error(self):
        with self.assertRaises(mailbroker.BrokerStartError):
            mailbroker.Broker(output=os.path.join(self.root, "no/such/folder/out"))

    def test_a_connection_to_a_broker_another_object_started(self):
        self.profiles()
        broker = self.broker()
        with mailbroker.connect(broker.pipe_name) as connection:
            self.assertEqual(connection.profile_name().display_name, "Test mail")


def _not_zombie(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ")[1][0] != "Z"
    except OSError:
        return False


if __name__ == "__main__":
    unittest.main()
