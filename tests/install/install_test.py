#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""An installed tree works from where it was installed.

Installs the build into a fresh prefix with `cmake --install` (every
component the build has), then checks that no installed program or library
keeps a run path into the build tree, and that the installed mailbroker-client
starts the installed Broker (found from the client's own folder: no
MAILBROKER_BROKER, no LD_LIBRARY_PATH, no build tree on any path) and sends a
message with an attachment to a loopback SMTP server.

Usage: install_test.py --build DIR --smtp-server PATH
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None


def elf_files(root):
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            if os.path.islink(path):
                continue
            with open(path, "rb") as f:
                if f.read(4) == b"\x7fELF":
                    yield path


class InstalledTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="mb_install_")
        cls.prefix = os.path.join(cls.root, "prefix")
        run = subprocess.run(["cmake", "--install", ARGS.build, "--prefix", cls.prefix],
                             capture_output=True, text=True, timeout=120)
        if run.returncode != 0:
            raise AssertionError("cmake --install failed:\n" + run.stdout + run.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def test_the_programs_are_where_a_host_looks_for_them(self):
        private = os.path.join(self.prefix, "lib", "mailbroker")
        for name in ("mailbroker", "libmapi32.so", "libmbmime.so", "mailbroker-check"):
            self.assertTrue(os.path.isfile(os.path.join(private, name)), name)
        self.assertTrue(os.access(os.path.join(self.prefix, "bin", "mailbroker-client"), os.X_OK))
        # Nothing private on PATH.
        self.assertEqual(sorted(os.listdir(os.path.join(self.prefix, "bin"))),
                         ["mailbroker-client"])

    def test_no_installed_file_runs_from_the_build_tree(self):
        build = os.path.realpath(ARGS.build)
        checked = 0
        for path in elf_files(self.prefix):
            dynamic = subprocess.run(["readelf", "-d", path], capture_output=True,
                                     text=True, check=True).stdout
            for line in dynamic.splitlines():
                if "(RUNPATH)" in line or "(RPATH)" in line:
                    self.assertNotIn(build, line, path)
            checked += 1
        self.assertGreaterEqual(checked, 5)

    def test_the_installed_client_sends_through_the_installed_broker(self):
        home = os.path.join(self.root, "home")
        runtime = os.path.join(home, "runtime")
        os.makedirs(runtime, mode=0o700)
        received = os.path.join(home, "received")
        os.makedirs(received)
        server = subprocess.Popen([sys.executable, ARGS.smtp_server, "--dir", received],
                                  stdout=subprocess.PIPE)
        try:
            port = int(server.stdout.readline())
            config = os.path.join(home, "config", "mailbroker")
            os.makedirs(config)
            with open(os.path.join(config, "profiles.ini"), "w", encoding="utf-8") as f:
                f.write("[profile Default]\ndefault = true\nsender_address = me@example.org\n"
                        "transport = smtp://127.0.0.1:%d\ntimeout = 10\n" % port)
            attachment = os.path.join(home, "report.txt")
            with open(attachment, "w", encoding="utf-8") as f:
                f.write("the figures\n")
            env = {
                "HOME": home,
                "PATH": "/usr/bin:/bin",
                "XDG_CONFIG_HOME": os.path.join(home, "config"),
                "XDG_DATA_HOME": os.path.join(home, "data"),
                "XDG_STATE_HOME": os.path.join(home, "state"),
                "XDG_RUNTIME_DIR": runtime,
                "LANG": "C.UTF-8",
            }
            run = subprocess.run([os.path.join(self.prefix, "bin", "mailbroker-client"), "send",
                                  "--silent", "--to", "bob@example.org", "--subject", "Figures",
                                  "--body", "Attached.", "--attach", attachment],
                                 env=env, capture_output=True, text=True, timeout=60)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            deadline = time.monotonic() + 30
            messages = []
            while time.monotonic() < deadline and not messages:
                messages = glob.glob(os.path.join(received, "*.eml"))
                time.sleep(0.1)
            self.assertEqual(len(messages), 1, run.stdout)
            with open(messages[0], "rb") as f:
                message = f.read()
            self.assertIn(b"Subject: Figures", message)
            self.assertIn(b"filename=report.txt", message)
            self.assertIn(b"dGhlIGZpZ3VyZXMK", message)  # the file, in base64
        finally:
            server.kill()
            server.wait()
            server.stdout.close()


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--smtp-server", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
