# SPDX-License-Identifier: MIT
"""A private X server and the dialog program under it, for tests that drive
the desktop dialogs with the keyboard (python3 stdlib, Xvfb, xdotool, xprop,
ImageMagick's import).

    with XSession() as x:
        run = x.start_dialog(PROGRAM, {"v": 1, "dialog": "choose-profile", ...})
        run.wait_shown()
        win = x.find_window("Choose Profile")
        x.focus(win)
        x.key("Down", "Return")
        assert run.answer()["pick"] == 1
        assert run.wait() == 0

Every wait has a time-out that fails the test (AssertionError) instead of
hanging it; whatever the session started is killed when it ends.
"""
import ctypes
import ctypes.util
import json
import os
import queue
import shutil
import subprocess
import threading
import time

DEFAULT_TIMEOUT = 20.0


class XSessionError(AssertionError):
    pass


class XSession:
    """Xvfb on a free display (-displayfd), without a window manager."""

    def __init__(self, width=1280, height=800):
        self.size = (width, height)
        self.display = None
        self._server = None
        self._runs = []
        self._clients = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        if shutil.which("Xvfb") is None:
            raise XSessionError("Xvfb is not installed")
        read_end, write_end = os.pipe()
        self._server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % self.size, "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + DEFAULT_TIMEOUT
        with os.fdopen(read_end, "rb") as pipe:
            # The server writes the display number and a newline once it
            # accepts connections.
            while not number.endswith(b"\n"):
                if time.monotonic() > deadline or self._server.poll() is not None:
                    self.stop()
                    raise XSessionError("Xvfb did not start")
                chunk = pipe.read(1)
                if not chunk:
                    self.stop()
                    raise XSessionError("Xvfb ended before naming its display")
                number += chunk
        self.display = ":" + number.decode().strip()

    def stop(self):
        for run in self._runs:
            run.kill()
        self._runs = []
        for client in self._clients:
            client.close()
        self._clients = []
        if self._server is not None:
            self._server.terminate()
            try:
                self._server.wait(5)
            except subprocess.TimeoutExpired:
                self._server.kill()
                self._server.wait()
            self._server = None

    def env(self, extra=None):
        """The environment for a client of this server: X11 only, no desktop
        session of whoever runs the tests."""
        env = dict(os.environ)
        for name in ("WAYLAND_DISPLAY", "XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID",
                     "DBUS_SESSION_BUS_ADDRESS"):
            env.pop(name, None)
        env["DISPLAY"] = self.display
        env["GDK_BACKEND"] = "x11"
        # No session bus here: GTK's accessibility bridge would only warn.
        env.setdefault("GTK_A11Y", "none")
        env["LANGUAGE"] = "en"
        if extra:
            env.update(extra)
        return env

    # --- X tools ---------------------------------------------------------

    def tool(self, *args, timeout=DEFAULT_TIMEOUT, check=True):
        try:
            done = subprocess.run(list(args), env=self.env(), capture_output=True, text=True,
                                  timeout=timeout)
        except subprocess.TimeoutExpired:
            raise XSessionError("%s did not finish within %ss" % (" ".join(args), timeout))
        if check and done.returncode != 0:
            raise XSessionError("%s failed (%d): %s" % (" ".join(args), done.returncode,
                                                        done.stderr.strip()))
        return done.stdout

    def windows(self, title, visible=True):
        """Ids of the windows whose title is exactly `title`."""
        args = ["xdotool", "search"]
        if visible:
            args.append("--onlyvisible")
        args += ["--name", "^%s$" % _regex_escape(title)]
        out = self.tool(*args, check=False)
        return [int(w) for w in out.split()]

    def find_window(self, title, timeout=DEFAULT_TIMEOUT, visible=True):
        """The one window titled `title`, once it exists (and is mapped)."""
        deadline = time.monotonic() + timeout
        while True:
            found = self.windows(title, visible)
            if len(found) == 1:
                return found[0]
            if len(found) > 1:
                raise XSessionError("%d windows titled %r" % (len(found), title))
            if time.monotonic() > deadline:
                raise XSessionError("no window titled %r within %ss" % (title, timeout))
            time.sleep(0.05)

    def focus(self, window):
        # No window manager gives focus here; the dialog gets it directly.
        self.tool("xdotool", "windowfocus", "--sync", str(window))

    def key(self, *keys):
        """Key presses through XTEST, to the focused window ("ctrl+Return")."""
        self.tool("xdotool", "key", "--delay", "20", *keys)

    def double_click(self, window, x, y):
        """Two clicks of the first button at (x, y) inside window."""
        self.tool("xdotool", "mousemove", "--window", str(window), str(x), str(y),
                  "click", "--repeat", "2", "--delay", "80", "1")

    def type(self, text):
        self.tool("xdotool", "type", "--delay", "10", text)

    def property(self, window, name):
        """xprop's line for the property, e.g. 'WM_TRANSIENT_FOR(WINDOW): window id # 0x200004'."""
        return self.tool("xprop", "-id", str(window), name).strip()

    def transient_for(self, window):
        """The window id in WM_TRANSIENT_FOR, or None when it is not set."""
        line = self.property(window, "WM_TRANSIENT_FOR")
        if "#" not in line:
            return None
        return int(line.rsplit("#", 1)[1].strip(), 16)

    def screenshot(self, window, path):
        """Saves the window (or "root") as PNG; false when `import` is missing."""
        if shutil.which("import") is None:
            return False
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        self.tool("import", "-window", str(window), path)
        return True

    def client(self):
        """An Xlib connection of the test's own (see XClient); closed with the session."""
        client = XClient(self)
        self._clients.append(client)
        return client

    # --- the dialog program ---------------------------------------------

    def start_dialog(self, program, request, env=None, argv=None):
        """Starts program with request (a dict, or a str/bytes line as it
        stands) on stdin, which stays open until close_stdin(). argv, when
        given, is the whole command line (a wrapper such as time(1) first)."""
        run = DialogRun(argv or [program], request, self.env(env))
        self._runs.append(run)
        return run


class _XClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("message", _XClientMessage), ("pad", ctypes.c_long * 24)]


class XClient:
    """A connection of our own to the server, through libX11 (ctypes), for
    what the command-line tools cannot do: a window manager's close request,
    and a stand-in for a host's window."""

    CLIENT_MESSAGE = 33

    def __init__(self, session):
        name = ctypes.util.find_library("X11")
        if name is None:
            raise XSessionError("libX11 is not installed")
        self.x = ctypes.CDLL(name)
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XInternAtom.restype = ctypes.c_ulong
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x.XCreateSimpleWindow.restype = ctypes.c_ulong
        self.x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
            [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
        self.x.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
        self.x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                      ctypes.POINTER(_XEvent)]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = self.x.XOpenDisplay(session.display.encode())
        if not self.display:
            raise XSessionError("cannot open display %s" % session.display)

    def close(self):
        if self.display:
            self.x.XCloseDisplay(self.display)
            self.display = None

    def create_window(self, title, width=320, height=200):
        """A plain mapped top-level window, as a host's main window."""
        root = self.x.XDefaultRootWindow(self.display)
        window = self.x.XCreateSimpleWindow(self.display, root, 40, 40, width, height, 0, 0, 0xFFFFFF)
        self.x.XStoreName(self.display, window, title.encode())
        self.x.XMapWindow(self.display, window)
        self.x.XSync(self.display, 0)
        return window

    def request_close(self, window):
        """What a window manager sends for the close button: WM_DELETE_WINDOW."""
        event = _XEvent()
        event.message.type = self.CLIENT_MESSAGE
        event.message.window = window
        event.message.message_type = self.x.XInternAtom(self.display, b"WM_PROTOCOLS", 0)
        event.message.format = 32
        event.message.data[0] = self.x.XInternAtom(self.display, b"WM_DELETE_WINDOW", 0)
        event.message.data[1] = 0  # CurrentTime
        self.x.XSendEvent(self.display, window, 0, 0, ctypes.byref(event))
        self.x.XSync(self.display, 0)


def _regex_escape(text):
    # xdotool takes a POSIX extended regex.
    return "".join("\\" + c if c in ".^$*+?()[]{}|\\" else c for c in text)


class DialogRun:
    """One run of the dialog program: its answer lines and its end."""

    def __init__(self, argv, request, env):
        if isinstance(request, dict):
            request = json.dumps(request) + "\n"
        if isinstance(request, str):
            request = request.encode("utf-8")
        self.process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env)
        self.lines = queue.Queue()
        self.stderr = b""
        self._reader = threading.Thread(target=self._read_stdout, daemon=True)
        self._reader.start()
        self._err_reader = threading.Thread(target=self._read_stderr, daemon=True)
        self._err_reader.start()
        try:
            self.process.stdin.write(request)
            self.process.stdin.flush()
        except BrokenPipeError:
            pass  # the program ended already; its answer says why

    def _read_stdout(self):
        for line in self.process.stdout:
            self.lines.put(line)
        self.lines.put(None)  # end of the stream

    def _read_stderr(self):
        self.stderr = self.process.stderr.read()

    def stderr_text(self, timeout=DEFAULT_TIMEOUT):
        """All of stderr, once the program has ended."""
        self._err_reader.join(timeout)
        return self.stderr.decode(errors="replace")

    def read_line(self, timeout=DEFAULT_TIMEOUT):
        """The next line on stdout as JSON, or None at the end of the stream."""
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise XSessionError("no line from the dialog program within %ss" % timeout)
        if line is None:
            self.lines.put(None)  # stays at the end for later calls
            return None
        return json.loads(line.decode("utf-8"))

    def wait_shown(self, timeout=DEFAULT_TIMEOUT):
        line = self.read_line(timeout)
        if line != {"event": "shown"}:
            if line is None:
                # Ended: its stderr says why.
                self._err_reader.join(5)
            raise XSessionError("expected the shown event, got %r (stderr: %s)"
                                % (line, self.stderr.decode(errors="replace")))

    def answer(self, timeout=DEFAULT_TIMEOUT):
        """The result line (events before it skipped); None when the program
        ended without one."""
        while True:
            line = self.read_line(timeout)
            if line is None or "result" in line:
                return line

    def remaining_lines(self, timeout=DEFAULT_TIMEOUT):
        """Every further line up to the end of the stream."""
        out = []
        while True:
            line = self.read_line(timeout)
            if line is None:
                return out
            out.append(line)

    def close_stdin(self):
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass

    def wait(self, timeout=DEFAULT_TIMEOUT):
        """The exit code, once the program ended."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise XSessionError("the dialog program did not end within %ss" % timeout)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdin,):
            try:
                stream.close()
            except (BrokenPipeError, OSError):
                pass
