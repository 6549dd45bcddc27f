# SPDX-License-Identifier: MIT
"""The Broker's pipe as a POSIX host reaches it.

``\\\\.\\pipe\\NAME`` is a Unix stream socket in the per-user folder
``$XDG_RUNTIME_DIR/winpal/pipe`` (``/tmp/winpal-UID/pipe`` without a runtime
directory), named by NAME folded to ASCII lower case when that is 1 to 64
bytes of ``[a-z0-9._-]`` (and not ``.`` or ``..``), else by ``~`` and the
FNV-1a hash of the folded name's UTF-8 bytes. Each pipe message travels as a
4-byte little-endian length and that many bytes.
"""

from __future__ import annotations

import errno
import os
import socket
import stat
import struct
import time
from typing import Optional, Union

from .errors import (
    BrokerConnectionError,
    BrokerDisconnected,
    InvalidPipeName,
    PipeAccessDenied,
    PipeBusy,
    PipeNotFound,
    ProtocolError,
    ReplyTimeout,
    UnsafePipeFolder,
)

__all__ = [
    "PIPE_PREFIX",
    "pipe_file_name",
    "pipe_folder",
    "pipe_socket_path",
    "unsafe_pipe_folder",
    "MessagePipe",
]

PIPE_PREFIX = "\\\\.\\pipe\\"
_MAX_PIPE_PATH = 256
_MAX_PLAIN_NAME = 64
_PLAIN = frozenset(b"abcdefghijklmnopqrstuvwxyz0123456789._-")
_FNV_OFFSET = 0xCBF29CE484222325
_FNV_PRIME = 0x100000001B3
# sockaddr_un's sun_path holds 108 bytes with its terminator.
_MAX_SOCKET_PATH = 107
_LENGTH = struct.Struct("<I")


def _name_bytes(name: Union[str, bytes]) -> bytes:
    """NAME's UTF-8 bytes, a full ``\\\\.\\pipe\\NAME`` path taken as its NAME."""
    if isinstance(name, str):
        try:
            raw = name.encode("utf-8")
        except UnicodeEncodeError:
            raise InvalidPipeName("the pipe name %r is not UTF-8 text" % name) from None
    elif isinstance(name, (bytes, bytearray)):
        raw = bytes(name)
    else:
        raise TypeError("a pipe name is str or bytes, not %s" % type(name).__name__)
    prefix = PIPE_PREFIX.encode("ascii")
    if raw[: len(prefix)].lower() == prefix:
        raw = raw[len(prefix) :]
    if not raw:
        raise InvalidPipeName("a pipe name cannot be empty")
    if b"\0" in raw:
        raise InvalidPipeName("a pipe name cannot hold a NUL character")
    if len(prefix) + len(raw) > _MAX_PIPE_PATH:
        raise InvalidPipeName(
            "the pipe path %s... is %d bytes, more than %d"
            % (PIPE_PREFIX, len(prefix) + len(raw), _MAX_PIPE_PATH)
        )
    return raw


def pipe_file_name(name: Union[str, bytes]) -> str:
    """The socket's file name for pipe NAME (or ``\\\\.\\pipe\\NAME``)."""
    raw = _name_bytes(name)
    folded = bytes(c + 32 if 65 <= c <= 90 else c for c in raw)
    if (
        len(folded) <= _MAX_PLAIN_NAME
        and all(c in _PLAIN for c in folded)
        and folded not in (b".", b"..")
    ):
        return folded.decode("ascii")
    h = _FNV_OFFSET
    for c in folded:
        h = ((h ^ c) * _FNV_PRIME) & 0xFFFFFFFFFFFFFFFF
    return "~%016x" % h


def _folders() -> tuple[str, str]:
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    base = runtime + "/winpal" if runtime else "/tmp/winpal-%d" % os.geteuid()
    return base, base + "/pipe"


def pipe_folder() -> str:
    """The folder of this user's pipes (it need not exist yet)."""
    return _folders()[1]


def _folder_problem(path: str) -> Optional[str]:
    try:
        st = os.lstat(path)
    except FileNotFoundError:
        return None  # missing: whoever makes it makes it private
    except OSError as e:
        return "the pipe folder %s cannot be examined: %s" % (path, e.strerror)
    if stat.S_ISDIR(st.st_mode) and st.st_uid == os.geteuid() and st.st_mode & 0o077 == 0:
        return None
    text = "the pipe folder %s is not safe (owner %d, mode %04o)" % (
        path,
        st.st_uid,
        stat.S_IMODE(st.st_mode),
    )
    if not stat.S_ISDIR(st.st_mode):
        text += ": it is not a directory"
    return text


def unsafe_pipe_folder() -> Optional[str]:
    """Why the pipe folders cannot be used, or None when they are sound or not made yet.

    The folder (and the ``winpal`` folder above it) must be a directory of
    this user that nobody else may use: the Broker refuses any other, and so
    does this module, since a folder others can write lets them put a socket
    of theirs where the Broker's should be. The text names the first folder
    on the way that fails, with its owner and mode.
    """
    for folder in _folders():
        problem = _folder_problem(folder)
        if problem is not None:
            return problem
    return None


def pipe_socket_path(name: Union[str, bytes], create: bool = False) -> str:
    """The socket path of pipe NAME, after the folder check.

    With ``create`` the folders are made (mode 0700) where missing, as the
    Broker makes them. Raises UnsafePipeFolder for a folder that is not
    private to this user, InvalidPipeName for a name that names no pipe.
    """
    file_name = pipe_file_name(name)
    base, folder = _folders()
    if create:
        for path in (base, folder):
            try:
                os.mkdir(path, 0o700)
            except FileExistsError:
                pass
            except OSError as e:
                raise BrokerConnectionError(
                    "cannot make the pipe folder %s: %s" % (path, e.strerror)
                ) from None
            problem = _folder_problem(path)
            if problem is not None:
                raise UnsafePipeFolder(problem)
    else:
        problem = unsafe_pipe_folder()
        if problem is not None:
            raise UnsafePipeFolder(problem)
    path = folder + "/" + file_name
    if len(os.fsencode(path)) > _MAX_SOCKET_PATH:
        raise InvalidPipeName(
            "the pipe's socket path %s is longer than a socket address holds" % path
        )
    return path


class MessagePipe:
    """A connected client end of a Broker's pipe, in message mode.

    ``MessagePipe.connect`` retries while the pipe is missing or every
    instance is busy (a full listen queue), for at most ``timeout`` seconds:
    what WaitNamedPipe gives a Windows client.
    """

    def __init__(self, sock: socket.socket, path: str) -> None:
        self._sock: Optional[socket.socket] = sock
        self.path = path

    @classmethod
    def connect(cls, name: Union[str, bytes], timeout: float = 5.0) -> "MessagePipe":
        """Connects to pipe NAME. Raises PipeNotFound or PipeBusy when the time
        runs out, PipeAccessDenied, UnsafePipeFolder, InvalidPipeName,
        BrokerConnectionError for any other failure."""
        path = pipe_socket_path(name, create=True)
        shown = PIPE_PREFIX + _name_bytes(name).decode("utf-8", "replace")
        deadline = time.monotonic() + max(0.0, timeout)
        while True:
            try:
                st = os.stat(path)
            except OSError:
                st = None
            # A pipe whose descriptor refuses its owner has a socket without
            # the owner's write bit; root would pass that bit, so it is read.
            if (
                st is not None
                and stat.S_ISSOCK(st.st_mode)
                and st.st_uid == os.geteuid()
                and st.st_mode & stat.S_IWUSR == 0
            ):
                raise PipeAccessDenied("access to pipe %s is denied to this user" % shown)
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM | socket.SOCK_CLOEXEC)
            sock.setblocking(False)
            try:
                sock.connect(path)
            except OSError as e:
                sock.close()
                code = e.errno
                if code in (errno.EACCES, errno.EPERM):
                    problem = unsafe_pipe_folder()
                    if problem is not None:
                        raise UnsafePipeFolder(problem) from None
                    raise PipeAccessDenied(
                        "access to pipe %s is denied to this user" % shown
                    ) from None
                busy = code in (errno.ECONNREFUSED, errno.EAGAIN)
                if not busy and code != errno.ENOENT:
                    raise BrokerConnectionError(
                        "cannot open pipe %s: %s" % (shown, e.strerror)
                    ) from None
                left = deadline - time.monotonic()
                if left <= 0:
                    if busy:
                        raise PipeBusy("pipe %s stayed busy" % shown) from None
                    raise PipeNotFound("no pipe %s" % shown) from None
                # A missing pipe has nothing to wait on, a busy one a queue
                # that moves: look again soon either way.
                time.sleep(min(left, 0.05 if busy else 0.005))
                continue
            sock.setblocking(True)
            return cls(sock, path)

    @property
    def is_open(self) -> bool:
        return self._sock is not None

    def close(self) -> None:
        if self._sock is not None:
            self._sock.close()
            self._sock = None

    def __enter__(self) -> "MessagePipe":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _socket(self) -> socket.socket:
        if self._sock is None:
            raise BrokerDisconnected("the connection is closed")
        return self._sock

    def write_messages(self, *messages: bytes) -> None:
        """Sends each of ``messages`` as one pipe message, in order.

        A write waits only while the Broker's side is full, and has no time
        limit, as the Broker's own writes.
        """
        sock = self._socket()
        data = b"".join(_LENGTH.pack(len(m)) + bytes(m) for m in messages)
        try:
            sock.settimeout(None)
            sock.sendall(data)
        except OSError as e:
            self.close()
            if isinstance(e, (BrokenPipeError, ConnectionResetError)):
                raise BrokerDisconnected("the Broker closed the connection") from None
            raise BrokerConnectionError("cannot write to the pipe: %s" % e.strerror) from None

    def _read_exact(self, count: int, deadline: Optional[float], what: str) -> bytes:
        sock = self._socket()
        chunks = []
        left = count
        while left > 0:
            if deadline is None:
                sock.settimeout(None)
            else:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    self.close()
                    raise ReplyTimeout("no %s within the time allowed" % what)
                sock.settimeout(remaining)
            try:
                chunk = sock.recv(min(left, 1 << 20))
            except socket.timeout:
                self.close()
                raise ReplyTimeout("no %s within the time allowed" % what) from None
            except OSError as e:
                self.close()
                if isinstance(e, ConnectionResetError):
                    raise BrokerDisconnected("the Broker closed the connection") from None
                raise BrokerConnectionError(
                    "cannot read from the pipe: %s" % e.strerror
                ) from None
            if not chunk:
                self.close()
                raise BrokerDisconnected("the Broker closed the connection")
            chunks.append(chunk)
            left -= len(chunk)
        return b"".join(chunks)

    def read_message(self, capacity: int, timeout: Optional[float], what: str = "reply") -> bytes:
        """One pipe message of at most ``capacity`` bytes.

        ``timeout`` (seconds, None: no limit) bounds the wait for the message
        to begin and to arrive whole. A longer message is a ProtocolError.
        After any failure the connection is closed: a read cut short cannot
        be resumed.
        """
        deadline = None if timeout is None else time.monotonic() + timeout
        length = _LENGTH.unpack(self._read_exact(4, deadline, what))[0]
        if length > capacity:
            self.close()
            raise ProtocolError(
                "a reply message is %d bytes, longer than the %d expected" % (length, capacity)
            )
        return self._read_exact(length, deadline, what) if length else b""
