#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Real accounts end to end, through mailbroker-client and a Broker.

The Secret Service: a password stored as msmtp users store it (secret-tool,
host/service/user) is found by `secret_service = yes`; `mailbroker-client
password set` stores one that both find; a profile with nothing stored keeps
its message, saying why. Runs inside its own D-Bus session (ctest starts it
under dbus-run-session) with a gnome-keyring of its own, unlocked, under a
temporary HOME.

A company server: STARTTLS with a certificate of the test's own CA, trusted
through tls_trust_file, and an OAuth2 token from a command written over
continuation lines longer than inih's line buffer. The sendmail route: msmtp
without a sender of its own gets the profile's through -f.

Usage: account_test.py --bin DIR --smtp-server PATH --make-certs PATH
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None


class Harness(unittest.TestCase):
    """A private HOME, XDG folders and provider log; loopback servers."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="mb_secret_")
        runtime = os.path.join(cls.root, "runtime")
        os.makedirs(runtime, mode=0o700)
        cls.env = dict(os.environ)
        cls.env.update({
            "HOME": cls.root,
            "XDG_CONFIG_HOME": os.path.join(cls.root, "config"),
            "XDG_DATA_HOME": os.path.join(cls.root, "data"),
            "XDG_RUNTIME_DIR": runtime,
            "MAILBROKER_PROVIDER_LOG": os.path.join(cls.root, "provider.log"),
        })
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "MAILBROKER_SECRET", "MAILBROKER_PROFILE"):
            cls.env.pop(name, None)
        os.makedirs(os.path.join(cls.root, "config", "mailbroker"))
        cls.servers = []

    @classmethod
    def tearDownClass(cls):
        for server in cls.servers:
            server.kill()
            server.wait()
            server.stdout.close()
        shutil.rmtree(cls.root, ignore_errors=True)

    def start_server(self, password):
        folder = tempfile.mkdtemp(dir=self.root)
        server = subprocess.Popen(
            ["/usr/bin/python3", ARGS.smtp_server, "--dir", folder, "--auth",
             "user1:" + password], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.servers.append(server)
        port = int(server.stdout.readline())
        return port, folder

    def start_server_with(self, *extra):
        folder = tempfile.mkdtemp(dir=self.root)
        server = subprocess.Popen(["/usr/bin/python3", ARGS.smtp_server, "--dir", folder, *extra],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.servers.append(server)
        return int(server.stdout.readline()), folder

    def write_profile(self, port, user, keys=None):
        with open(os.path.join(self.root, "config", "mailbroker", "profiles.ini"), "w") as f:
            f.write("[profile work]\ndefault = true\nui = headless\n"
                    "sender_address = ann@example.net\ntimeout = 10\n")
            f.write(keys if keys is not None else
                    f"transport = smtp://127.0.0.1:{port}\n"
                    f"username = {user}\nsecret_service = yes\n")

    def client(self, *args, stdin=b""):
        return subprocess.run([os.path.join(ARGS.bin, "mailbroker-client"), *args], input=stdin,
                              env=self.env, capture_output=True, timeout=60)

    def send(self, subject):
        result = self.client("send", "--silent", "--to", "zoe@example.org", "--subject", subject)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        return result.stdout.decode()

    @staticmethod
    def received(folder):
        mails = []
        for name in sorted(n for n in os.listdir(folder) if n.endswith(".json")):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                mails.append(json.load(f))
        return mails

    def log(self):
        try:
            with open(self.env["MAILBROKER_PROVIDER_LOG"], encoding="utf-8") as f:
                return f.read()
        except FileNotFoundError:
            return ""



class SecretServiceTest(Harness):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # A login keyring of its own, created and unlocked with this password.
        subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets",
                        "--daemonize"], input=b"keyring-pw", env=cls.env, check=True,
                       stdout=subprocess.DEVNULL, timeout=30)

    def test_1_password_stored_as_msmtp_stores_it(self):
        port, folder = self.start_server("S3cret-Pa55")
        subprocess.run(["secret-tool", "store", "--label=msmtp work", "host", "127.0.0.1",
                        "service", "smtp", "user", "user1"], input=b"S3cret-Pa55",
                       env=self.env, check=True, timeout=30)
        self.write_profile(port, "user1")
        out = self.send("stored with secret-tool")
        self.assertIn("delivered through smtp://", out)
        mails = self.received(folder)
        self.assertEqual(len(mails), 1)
        self.assertEqual(mails[0]["auth_login"], "user1")

    def test_2_password_set_stores_what_both_find(self):
        port, folder = self.start_server("N3w-Pa55")
        self.write_profile(port, "user1")
        result = self.client("password", "set", "work", stdin=b"N3w-Pa55\n")
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertIn("stored: the password for user1 at 127.0.0.1", result.stdout.decode())
        looked_up = subprocess.run(["secret-tool", "lookup", "host", "127.0.0.1", "service",
                                    "smtp", "user", "user1"], env=self.env,
                                   capture_output=True, check=True, timeout=30)
        self.assertEqual(looked_up.stdout.decode().strip(), "N3w-Pa55")
        out = self.send("stored with password set")
        self.assertIn("delivered through smtp://", out)
        self.assertEqual(len(self.received(folder)), 1)

    def test_3_nothing_stored_keeps_the_message_and_says_why(self):
        port, folder = self.start_server("S3cret-Pa55")
        self.write_profile(port, "nobody")
        out = self.send("nothing stored")
        self.assertIn("the message waits in the Outbox", out)
        self.assertEqual(self.received(folder), [])
        self.assertIn("no password for nobody at 127.0.0.1 in the Secret Service", self.log())
        self.assertIn("mailbroker-client password set work", self.log())
        self.assertNotIn("Pa55", self.log())

    def test_4_password_set_refuses_what_it_cannot_store(self):
        result = self.client("password", "set", "nosuch", stdin=b"x\n")
        self.assertEqual(result.returncode, 1)
        self.assertIn("no profile named 'nosuch'", result.stderr.decode())
        result = self.client("password", "set", "work", stdin=b"")
        self.assertEqual(result.returncode, 1)
        self.assertIn("no password given; nothing stored", result.stderr.decode())


class CompanyServerTest(Harness):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.certs = os.path.join(cls.root, "certs")
        subprocess.run(["/usr/bin/python3", ARGS.make_certs, cls.certs], check=True, timeout=60)

    def test_own_ca_and_a_token_command(self):
        port, folder = self.start_server_with(
            "--tls-cert", os.path.join(self.certs, "server.pem"),
            "--tls-key", os.path.join(self.certs, "server.key"), "--bearer", "ann:ya29.T0k3n")
        token = os.path.join(self.root, "token")
        with open(token, "w") as f:
            f.write("#!/bin/sh\n[ \"$2\" = \"%s\" ] && echo ya29.T0k3n\n" % ("s" * 250))
        os.chmod(token, 0o700)
        self.write_profile(port, "ann", (
            f"transport = smtp://127.0.0.1:{port}\ntls = starttls\n"
            f"tls_trust_file = {self.certs}/ca.pem\nusername = ann\n"
            f"oauth2_token_command = {token}\n    --scope\n    {'s' * 250}\n"))
        out = self.send("company server")
        self.assertIn("delivered through smtp://", out)
        mails = self.received(folder)
        self.assertEqual(len(mails), 1)
        self.assertTrue(mails[0].get("tls"))
        self.assertEqual(mails[0]["auth_login"], "ann")
        self.assertNotIn("ya29", self.log())

    def test_msmtp_gets_the_envelope_sender(self):
        port, folder = self.start_server_with()
        self.write_profile(port, "ann", (
            f"transport = sendmail:/usr/bin/msmtp --host=127.0.0.1 --port={port} -t\n"))
        out = self.send("through msmtp")
        self.assertIn("delivered through sendmail:", out)
        mails = self.received(folder)
        self.assertEqual(len(mails), 1)
        self.assertEqual(mails[0]["mail_from"], "ann@example.net")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--smtp-server", required=True)
    parser.add_argument("--make-certs", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v", *rest])
