#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""What a body costs mailbroker-client: `send --silent` with a 1 MiB attachment
to a loopback SMTP server, the body given with --body, then with --body-file
holding the same text, and beside them neomutt sending the same message and
file to the same server. One round runs the three one after the other, so
they share whatever the machine is doing. Reports; asserts nothing.

    python3 bench/client_body.py BIN [ROUNDS]      (default 20)

BIN holds mailbroker-client, mailbroker, libmapi32.so and libmbmime.so (see
bench/client_body.sh, which builds them for Release). The SMTP server is
tests/smtp/smtp_server.py, on Debian's python3-aiosmtpd. Wall time is from
start to exit of the sending program; CPU time (user and system, 10 ms
steps) and peak memory are its own (GNU time's), not the Broker's.
"""
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
BODY = "Please find the report attached.\n"


def run(argv, env, stdin=None):
    """(wall ms, peak KiB, CPU ms) of one run that must succeed. GNU time reports the
    peak: a child forked from this interpreter would count the interpreter's
    own pages as its peak, since the high-water mark survives exec."""
    report = tempfile.NamedTemporaryFile(prefix="mb-time-")
    start = time.perf_counter()
    with open(stdin or os.devnull, "rb") as given:
        done = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report.name, *argv], env=env,
                              stdin=given, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = (time.perf_counter() - start) * 1000
    if done.returncode != 0:
        sys.exit("%s failed (%d): %s" % (argv[0], done.returncode, done.stderr.decode()))
    peak, user, system = open(report.name).read().split()[-3:]
    report.close()
    return wall, int(peak), (float(user) + float(system)) * 1000


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    bin_dir = pathlib.Path(sys.argv[1]).resolve()
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    for tool, package in (("neomutt", "neomutt"), ("/usr/bin/time", "time")):
        if shutil.which(tool) is None:
            sys.exit("%s is missing (apt-get install %s)" % (tool, package))
    work = pathlib.Path(tempfile.mkdtemp(prefix="mb-client-body-"))
    try:
        (work / "smtp").mkdir()
        server = subprocess.Popen(["/usr/bin/python3", str(ROOT / "tests/smtp/smtp_server.py"),
                                   "--dir", str(work / "smtp")], stdout=subprocess.PIPE, text=True)
        port = int(server.stdout.readline())
        for folder in ("config/mailbroker", "data", "runtime"):
            (work / folder).mkdir(parents=True, mode=0o700)
        (work / "config/mailbroker/profiles.ini").write_text(
            "[profile bench]\ndefault = true\nui = headless\nsender_address = me@example.org\n"
            "transport = smtp://127.0.0.1:%d\nstarttls = try\n" % port)
        attachment = work / "report.bin"
        attachment.write_bytes(os.urandom(1 << 20))
        body = work / "body.txt"
        body.write_text(BODY)
        muttrc = work / "muttrc"
        muttrc.write_text('set smtp_url="smtp://127.0.0.1:%d/"\nset from="me@example.org"\n'
                          'set record=""\nset ssl_starttls=no\nset ssl_force_tls=no\n'
                          'set folder="%s"\nset spool_file="%s/spool"\nset header_cache=""\n'
                          % (port, work, work))
        env = dict(os.environ, XDG_CONFIG_HOME=str(work / "config"),
                   XDG_DATA_HOME=str(work / "data"), XDG_RUNTIME_DIR=str(work / "runtime"),
                   HOME=str(work))
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        client = [str(bin_dir / "mailbroker-client"), "send", "--silent",
                  "--to", "you@example.org", "--subject", "x", "--attach", str(attachment)]
        cases = {
            "send --body": (client + ["--body", BODY], None),
            "send --body-file": (client + ["--body-file", str(body)], None),
            "neomutt": (["neomutt", "-n", "-F", str(muttrc), "-s", "x", "-a", str(attachment),
                         "--", "you@example.org"], str(body)),
        }
        for argv, stdin in cases.values():  # warm the caches once
            run(argv, env, stdin)
        results = {name: [] for name in cases}
        for _ in range(rounds):
            for name, (argv, stdin) in cases.items():
                results[name].append(run(argv, env, stdin))
        server.kill()
        server.wait()
        sent = len([n for n in os.listdir(work / "smtp") if n.endswith(".eml")])
        print("rounds: %d, messages the server took: %d, on %d CPUs" %
              (rounds, sent, os.cpu_count()))
        medians = {}
        for name, samples in results.items():
            walls = [w for w, _, _ in samples]
            peaks = [p for _, p, _ in samples]
            cpu = [c for _, _, c in samples]
            medians[name] = statistics.median(walls)
            print("%-18s median %7.1f ms (min %6.1f, max %6.1f)   CPU %5.0f ms   peak %6.1f MiB"
                  " (medians)" % (name, medians[name], min(walls), max(walls),
                                  statistics.median(cpu), statistics.median(peaks) / 1024))
        for name in ("send --body", "send --body-file"):
            print("%-18s %.2fx neomutt" % (name, medians[name] / medians["neomutt"]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
