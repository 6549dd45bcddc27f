# SPDX-License-Identifier: MIT
"""examples/python/send_file.py run as a user runs it, headless, against a
real Broker and the loopback SMTP server: the file must arrive whole.

Run with PYTHONPATH naming the module's folder; MAILBROKER_BROKER and
MB_SMTP_SERVER as for test_broker.py.
"""

import email
import email.policy
import os
import pathlib
import subprocess
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from test_broker import Home  # noqa: E402

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples/python/send_file.py"


class SendFileExample(Home):
    def run_example(self, *args):
        env = dict(os.environ)
        for key, value in self.env().items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return subprocess.run(
            ["/usr/bin/python3", "-B", str(EXAMPLE), *args],
            env=env, capture_output=True, text=True, timeout=60,
        )

    def test_the_file_reaches_the_address(self):
        spool, port = self.smtp_server()
        self.profiles("smtp://127.0.0.1:%d" % port)
        data = os.urandom(50000)
        path = self.write("report.pdf", data, "wb")
        run = self.run_example(path, "zed@example.net")
        self.assertEqual(run.returncode, 0, run.stderr + self.log())
        self.assertEqual(run.stdout, "sent %s to zed@example.net\n" % path)
        with open(os.path.join(spool, "0001.eml"), "rb") as f:
            message = email.message_from_binary_file(f, policy=email.policy.default)
        self.assertEqual(message["To"], "zed@example.net")
        self.assertEqual(message["Subject"], "report.pdf")
        [part] = list(message.iter_attachments())
        self.assertEqual(part.get_filename(), "report.pdf")
        self.assertEqual(part.get_content(), data)

    def test_a_missing_file_is_reported_and_nothing_is_sent(self):
        spool, port = self.smtp_server()
        self.profiles("smtp://127.0.0.1:%d" % port)
        run = self.run_example(os.path.join(self.root, "nothing.pdf"), "zed@example.net")
        self.assertEqual(run.returncode, 1)
        self.assertIn("nothing.pdf cannot be read", run.stderr)
        self.assertEqual([n for n in os.listdir(spool) if n.endswith(".eml")], [])

    def test_wrong_arguments_give_the_usage(self):
        run = self.run_example()
        self.assertEqual(run.returncode, 2)
        self.assertEqual(run.stderr, "usage: python3 send_file.py FILE [ADDRESS]\n")


if __name__ == "__main__":
    unittest.main()
