#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""How fast mailbroker-dialogs puts a dialog on screen, and how much memory it
takes, beside zenity started the same way. Reports; asserts nothing.

    python3 bench/dialogs_startup.py [RUNS]          (default 20)
    MB_DIALOGS_PROGRAM=build/release/bin/mailbroker-dialogs python3 bench/dialogs_startup.py

Under a private Xvfb (no window manager, no session bus), per dialog:
  - request -> "shown": from starting the program with its request on stdin
    to the {"event":"shown"} line (sent after the first frame is drawn);
  - start -> window found: from starting the program to the moment
    `xdotool search --onlyvisible --pid PID` first finds its window, polled
    every 10 ms; measured the same way for `zenity --info --text x`;
  - peak RSS: /usr/bin/time -v's "Maximum resident set size", one run each.
Medians over RUNS runs, with the smallest and largest.
"""
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.dont_write_bytecode = True
sys.path.insert(0, str(ROOT / "tests" / "dialogs"))
from xsession import XSession  # noqa: E402

PROGRAM = os.environ.get("MB_DIALOGS_PROGRAM", str(ROOT / "build/default/bin/mailbroker-dialogs"))
POLL = 0.01


def entry(i):
    return {"name": "Person %04d Example" % i, "type": "SMTP",
            "address": "person%04d@example.org" % i, "id": "%08x" % i}


REQUESTS = {
    "check-names": {"v": 1, "dialog": "check-names", "parent": 0, "text": "Ann",
                    "candidates": [entry(i) for i in range(3)]},
    "choose-profile": {"v": 1, "dialog": "choose-profile", "parent": 0,
                       "profiles": [{"name": "p%d" % i, "displayName": "Profile %d" % i}
                                    for i in range(3)]},
    "select-names (20 entries)": {"v": 1, "dialog": "select-names", "parent": 0, "caption": "",
                                  "wells": [{"type": "to", "entries": []}, {"type": "cc", "entries": []}],
                                  "book": [entry(i) for i in range(20)]},
    "select-names (5000 entries)": {"v": 1, "dialog": "select-names", "parent": 0, "caption": "",
                                    "wells": [{"type": "to", "entries": []}],
                                    "book": [entry(i) for i in range(5000)]},
}


def wait_for_window(x, pid, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        out = x.tool("xdotool", "search", "--onlyvisible", "--pid", str(pid), check=False)
        if out.split():
            return int(out.split()[0])
        time.sleep(POLL)
    raise RuntimeError("no window of pid %d within %ss" % (pid, timeout))


def ours(x, request, runs):
    to_shown, to_found = [], []
    for _ in range(runs):
        start = time.monotonic()
        run = x.start_dialog(PROGRAM, request)
        run.wait_shown()
        to_shown.append(time.monotonic() - start)
        run.close_stdin()
        run.wait()
        start = time.monotonic()
        run = x.start_dialog(PROGRAM, request)
        wait_for_window(x, run.process.pid)
        to_found.append(time.monotonic() - start)
        run.close_stdin()
        run.wait()
    return to_shown, to_found


def zenity(x, runs):
    found = []
    for _ in range(runs):
        start = time.monotonic()
        process = subprocess.Popen(["zenity", "--info", "--text", "x"], env=x.env(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for_window(x, process.pid)
        found.append(time.monotonic() - start)
        process.kill()
        process.wait()
    return found


def peak_rss_kib(stderr):
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", stderr)
    return int(match.group(1)) if match else None


def ours_rss(x, request):
    run = x.start_dialog(PROGRAM, request, argv=["/usr/bin/time", "-v", PROGRAM])
    run.wait_shown()
    run.close_stdin()
    run.wait()
    return peak_rss_kib(run.stderr_text())


def zenity_rss(x):
    process = subprocess.Popen(["/usr/bin/time", "-v", "zenity", "--info", "--text", "x"],
                               env=x.env(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    # time(1)'s child is zenity; its window closes with Return (the OK button).
    child = int(subprocess.run(["pgrep", "-P", str(process.pid)], capture_output=True,
                               text=True).stdout.split()[0])
    window = wait_for_window(x, child)
    x.focus(window)
    x.key("Return")
    _, err = process.communicate(timeout=20)
    return peak_rss_kib(err.decode(errors="replace"))


def summary(samples):
    ms = sorted(s * 1000 for s in samples)
    return "median %6.1f ms  (min %6.1f, max %6.1f, n=%d)" % (statistics.median(ms), ms[0], ms[-1],
                                                              len(ms))


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    for tool in ("/usr/bin/time", "zenity", "xdotool", "pgrep"):
        if shutil.which(tool) is None:
            sys.exit("dialogs_startup: %s is needed (apt-get install time zenity xdotool procps)" % tool)
    print("program: %s\nruns: %d, on %d CPUs\n" % (PROGRAM, runs, os.cpu_count()))
    with XSession() as x:
        for name, request in REQUESTS.items():
            to_shown, to_found = ours(x, request, runs)
            print("%-28s request -> shown         %s" % (name, summary(to_shown)))
            print("%-28s start -> window found    %s" % ("", summary(to_found)))
            print("%-28s peak RSS %d KiB\n" % ("", ours_rss(x, request)))
        print("%-28s start -> window found    %s" % ("zenity --info", summary(zenity(x, runs))))
        print("%-28s peak RSS %d KiB" % ("", zenity_rss(x)))


if __name__ == "__main__":
    main()
