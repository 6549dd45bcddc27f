#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A C host sends a file through a Broker to a loopback SMTP server.

  c_host_test.py program --broker BROKER --smtp-server S -- COMMAND...
      runs COMMAND (a host built in the tree), with @FILE@ and @TO@ in its
      arguments replaced by the file to send and the address to send it to;
      MAILBROKER_BROKER names BROKER.

  c_host_test.py install --build-dir B --smtp-server S --source HOST.c
      installs the build into a temporary prefix (components lib and dev, and
      broker when the build installs the Broker), compiles HOST.c with the
      flags `pkg-config mailbroker` gives for that prefix, and once more as a
      CMake project through find_package(mailbroker), and runs both without
      LD_LIBRARY_PATH. HOST.c takes FILE ADDRESS.

Either way the server must have received the message, with the file attached
byte for byte, for the address given.
"""
import argparse
import email
import email.policy
import glob
import os
import shutil
import subprocess
import sys
import tempfile

TO = "ann@example.org"


def fail(text):
    print("FAIL: " + text)
    sys.exit(1)


def run(args, env, what, **kwargs):
    done = subprocess.run(args, env=env, capture_output=True, text=True, timeout=90, **kwargs)
    print(f"$ {' '.join(args)}\n{done.stdout}{done.stderr}", end="")
    if done.returncode != 0:
        fail(f"{what} exited {done.returncode}")
    return done.stdout


class Setting:
    """A private home for the Broker: profiles, store, runtime folder, and the SMTP server."""

    def __init__(self, root, smtp_server):
        self.root = root
        self.received = os.path.join(root, "received")
        os.makedirs(self.received)
        self.server = subprocess.Popen(
            ["/usr/bin/python3", smtp_server, "--dir", self.received, "--mode", "accept"],
            stdout=subprocess.PIPE, text=True)
        port = self.server.stdout.readline().strip()
        if not port.isdigit():
            fail("the SMTP server did not start")
        config = os.path.join(root, "config", "mailbroker")
        os.makedirs(config)
        with open(os.path.join(config, "profiles.ini"), "w", encoding="utf-8") as f:
            f.write("[profile Default]\ndefault = true\ndisplay_name = Loopback\n"
                    "sender_address = me@example.org\ntimeout = 10\n"
                    f"transport = smtp://127.0.0.1:{port}\n")
        runtime = os.path.join(root, "runtime")
        os.makedirs(runtime, mode=0o700)
        open(os.path.join(root, "ui.script"), "w").close()
        self.file = os.path.join(root, "report.bin")
        with open(self.file, "wb") as f:
            f.write(bytes((i * 37 + i // 251) % 256 for i in range(50000)))
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                 "LD_LIBRARY_PATH", "MAILBROKER_BROKER")}
        self.env.update({
            "XDG_CONFIG_HOME": os.path.join(root, "config"),
            "XDG_DATA_HOME": os.path.join(root, "data"),
            "XDG_STATE_HOME": os.path.join(root, "state"),
            "XDG_RUNTIME_DIR": runtime,
            "MAILBROKER_UI_SCRIPT": os.path.join(root, "ui.script"),
            "MAILBROKER_PROVIDER_LOG": os.path.join(root, "provider.log"),
        })

    def stop(self):
        self.server.kill()
        self.server.wait()

    def check_received(self, count):
        messages = sorted(glob.glob(os.path.join(self.received, "*.eml")))
        if len(messages) != count:
            fail(f"the server received {len(messages)} messages, not {count}")
        with open(self.file, "rb") as f:
            expected = f.read()
        for path in messages:
            with open(path, "rb") as f:
                message = email.message_from_binary_file(f, policy=email.policy.default)
            if TO not in str(message["To"]):
                fail(f"{path}: To is {message['To']}, not {TO}")
            files = [(part.get_filename(), part.get_content()) for part in message.iter_attachments()]
            if files != [("report.bin", expected)]:
                fail(f"{path}: the attachments are {[(n, len(c)) for n, c in files]}, not "
                     f"report.bin of {len(expected)} bytes")
            print(f"received {os.path.basename(path)}: To {message['To']}, report.bin intact")


def program_mode(args, setting):
    setting.env["MAILBROKER_BROKER"] = args.broker
    command = [a.replace("@FILE@", setting.file).replace("@TO@", TO) for a in args.command]
    run(command, setting.env, os.path.basename(command[0]))
    setting.check_received(1)


def install_mode(args, setting):
    prefix = os.path.join(setting.root, "prefix")
    for component in ("lib", "dev", "broker"):
        run(["cmake", "--install", args.build_dir, "--prefix", prefix, "--component", component],
            setting.env, f"cmake --install --component {component}")
    broker = os.path.join(prefix, "lib", "mailbroker", "mailbroker")
    if os.path.exists(broker):
        print(f"the installed Broker serves: {broker}")
    else:
        # The broker component installs nothing yet: the build's Broker, with
        # the provider beside it, stands in.
        setting.env["MAILBROKER_BROKER"] = os.path.join(args.build_dir, "bin", "mailbroker")
        print("no installed Broker; MAILBROKER_BROKER=" + setting.env["MAILBROKER_BROKER"])
    pcs = glob.glob(os.path.join(prefix, "**", "pkgconfig", "mailbroker.pc"), recursive=True)
    if len(pcs) != 1:
        fail(f"mailbroker.pc installed {len(pcs)} times under {prefix}")
    env = dict(setting.env, PKG_CONFIG_PATH=os.path.dirname(pcs[0]))
    # The .pc names the configured prefix; this tree lies elsewhere. Its other
    # paths are written from ${prefix}, so redefining that moves them all
    # (--define-prefix would guess the prefix from the .pc's folder, which
    # fails for a multiarch libdir such as lib/x86_64-linux-gnu).
    moved = "--define-variable=prefix=" + prefix
    flags = run(["pkg-config", moved, "--cflags", "--libs", "mailbroker"], env,
                "pkg-config").split()
    libdir = run(["pkg-config", moved, "--variable=libdir", "mailbroker"], env,
                 "pkg-config").strip()
    if not libdir.startswith(prefix):
        fail(f"pkg-config's libdir {libdir} is not under {prefix}")
    host = os.path.join(setting.root, "host")
    run(["cc", "-std=c99", "-Wall", "-Wextra", "-Werror", "-o", host, args.source] + flags +
        ["-Wl,-rpath," + libdir], env, "cc")
    needed = run(["readelf", "-dW", host], env, "readelf")
    if "libmailbroker.so.1" not in needed:
        fail("the host does not need libmailbroker.so.1")
    out = run([host, setting.file, TO], setting.env, "the host built with pkg-config")
    if "status=SUCCESS_SUCCESS" not in out or "result=1" not in out or "profile=Loopback" not in out:
        fail("the host's output is not that of a message sent")

    project = os.path.join(setting.root, "project")
    os.makedirs(project)
    shutil.copy(args.source, os.path.join(project, "host.c"))
    with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
        f.write("cmake_minimum_required(VERSION 3.25)\nproject(host C)\n"
                "find_package(mailbroker 1 REQUIRED)\n"
                "add_executable(host host.c)\n"
                "target_link_libraries(host PRIVATE mailbroker::mailbroker)\n")
    build = os.path.join(setting.root, "project-build")
    run(["cmake", "-S", project, "-B", build, "-G", "Ninja", "-DCMAKE_PREFIX_PATH=" + prefix],
        setting.env, "cmake configure")
    run(["cmake", "--build", build], setting.env, "cmake --build")
    run([os.path.join(build, "host"), setting.file, TO], setting.env,
        "the host built with find_package")
    setting.check_received(2)


def main():
    parser = argparse.ArgumentParser()
    modes = parser.add_subparsers(dest="mode", required=True)
    program = modes.add_parser("program")
    program.add_argument("--broker", required=True)
    program.add_argument("--smtp-server", required=True)
    program.add_argument("command", nargs="+")
    install = modes.add_parser("install")
    install.add_argument("--build-dir", required=True)
    install.add_argument("--smtp-server", required=True)
    install.add_argument("--source", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="mbtest-c-host-") as root:
        setting = Setting(root, args.smtp_server)
        try:
            (program_mode if args.mode == "program" else install_mode)(args, setting)
        finally:
            setting.stop()
    print("PASS")


if __name__ == "__main__":
    main()
