# SPDX-License-Identifier: MIT
"""Starting a Broker as a host does: ``mailbroker --ipc=NAME --proc=PID``
with a fresh pipe name, then connecting to its pipe."""

from __future__ import annotations

import itertools
import os
import secrets
import signal
import subprocess
import threading
import time
from typing import Mapping, Optional, Sequence, Union

from . import _paths
from .commands import AddressResult, PathLike, ProfileResult, Recipients, SendResult
from .connection import DEFAULT_CONNECT_TIMEOUT, Connection
from .errors import BrokerNotFound, BrokerStartError, PipeBusy, PipeNotFound
from .pipe import pipe_file_name

__all__ = ["Broker", "find_broker", "fresh_pipe_name", "ENV_BROKER"]

# The environment variable that names the Broker program.
ENV_BROKER = "MAILBROKER_BROKER"

_counter = itertools.count(1)
_salt = secrets.randbits(32)


def fresh_pipe_name() -> str:
    """A pipe name no other Broker of this machine uses.

    The process id and a counter keep names apart within one machine's
    lifetime; the random part covers a process id used again later.
    """
    return "mailbroker-py-%d-%d-%08x" % (os.getpid(), next(_counter), _salt)


def find_broker(path: Union[str, "os.PathLike[str]", None] = None) -> str:
    """The Broker program to run: ``path`` when given, else the environment
    variable MAILBROKER_BROKER when set and not empty, else the installed
    one. Raises BrokerNotFound when the one chosen is not an executable file.

    Only the first place that names a program counts: a wrong path given
    explicitly is an error, not a reason to run some other Broker.
    """
    if path is not None:
        candidate, source = os.fspath(path), "the path given"
    elif os.environ.get(ENV_BROKER):
        candidate, source = os.environ[ENV_BROKER], ENV_BROKER
    else:
        candidate, source = _paths.BROKER_PATH, "the installed path"
    if not os.path.isfile(candidate) or not os.access(candidate, os.X_OK):
        raise BrokerNotFound(
            "no Broker program at %s (%s)" % (candidate, source), (candidate,)
        )
    return candidate


class Broker:
    """A Broker this process started, and a connection to it.

    The Broker ends by itself when its host process (``host_pid``, by
    default this one) ends; close() (or leaving the ``with`` block) stops it
    at once, with every dialog it still shows. Commands run on one
    connection, opened on first use::

        with mailbroker.Broker() as broker:
            broker.send_mail(to=["ann@example.org"], subject="Report",
                             attachments=["report.pdf"])

    ``path`` names the Broker program (see find_broker); ``env`` entries are
    laid over this process's environment for the Broker (None removes a
    variable); ``output`` is a file for its standard output and error
    (default: discarded); ``connect_timeout`` is how long the Broker has to
    open its pipe, and each later connect to wait for it.
    """

    def __init__(
        self,
        path: Union[str, "os.PathLike[str]", None] = None,
        *,
        pipe_name: Optional[str] = None,
        host_pid: Optional[int] = None,
        env: Optional[Mapping[str, Optional[str]]] = None,
        output: Optional[str] = None,
        connect_timeout: float = DEFAULT_CONNECT_TIMEOUT,
    ) -> None:
        self.path = find_broker(path)
        self.pipe_name = pipe_name if pipe_name is not None else fresh_pipe_name()
        pipe_file_name(self.pipe_name)  # a name that names no pipe fails before any start
        self.connect_timeout = connect_timeout
        self._connection: Optional[Connection] = None
        self._lock = threading.Lock()
        environment = dict(os.environ)
        for key, value in (env or {}).items():
            if value is None:
                environment.pop(key, None)
            else:
                environment[key] = value
        pid = os.getpid() if host_pid is None else host_pid
        # The name travels as its UTF-8 bytes whatever this process's locale.
        argv = [
            os.fsencode(self.path),
            b"--ipc=" + self.pipe_name.encode("utf-8"),
            b"--proc=%d" % pid,
        ]
        sink = None
        try:
            sink = open(output, "wb") if output is not None else subprocess.DEVNULL
        except OSError as e:
            raise BrokerStartError(
                "cannot open %s for the Broker's output: %s" % (output, e.strerror)
            ) from None
        try:
            # A group of its own, so that stopping it stops the dialogs it runs.
            self._process: Optional[subprocess.Popen[bytes]] = subprocess.Popen(
                argv,
                stdin=subprocess.DEVNULL,
                stdout=sink,
                stderr=subprocess.STDOUT,
                env=environment,
                close_fds=True,
                process_group=0,
            )
        except OSError as e:
            raise BrokerStartError("cannot run %s: %s" % (self.path, e.strerror)) from None
        finally:
            if sink is not None and sink is not subprocess.DEVNULL:
                sink.close()

    @property
    def pid(self) -> int:
        """The Broker's process id."""
        assert self._process is not None, "the Broker was stopped"
        return self._process.pid

    def running(self) -> bool:
        return self._process is not None and self._process.poll() is None

    def connect(self, timeout: Optional[float] = None) -> Connection:
        """A new connection to the Broker's pipe.

        Waits up to ``timeout`` (default connect_timeout) seconds for the
        pipe; raises BrokerStartError when the Broker ends before serving it.
        """
        limit = self.connect_timeout if timeout is None else timeout
        deadline = time.monotonic() + limit
        while True:
            left = deadline - time.monotonic()
            try:
                # Short attempts, so that a Broker that died is noticed
                # rather than waited out.
                return Connection.open(self.pipe_name, min(max(left, 0.0), 0.1))
            except (PipeNotFound, PipeBusy):
                process = self._process
                if process is None:
                    raise BrokerStartError("the Broker was stopped") from None
                status = process.poll()
                if status is not None:
                    raise BrokerStartError(
                        "the Broker ended (%s) without serving pipe %s"
                        % (_describe_exit(status), self.pipe_name)
                    ) from None
                if left <= 0:
                    raise

    def connection(self) -> Connection:
        """The connection the commands use, opened on first need and again
        after one was lost."""
        with self._lock:
            if self._connection is None or not self._connection.is_open:
                self._connection = self.connect()
            return self._connection

    def close(self) -> None:
        """Closes the connection and stops the Broker (its process group is
        killed and the Broker reaped). Calling it again does nothing."""
        with self._lock:
            if self._connection is not None:
                self._connection.close()
                self._connection = None
            process, self._process = self._process, None
        if process is None:
            return
        if process.poll() is None:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass  # the group is gone; the Broker itself may not be
            try:
                process.kill()
            except ProcessLookupError:
                pass
        process.wait()

    stop = close

    def __enter__(self) -> "Broker":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        # A Broker nobody closed is not left running behind a forgotten object.
        process = getattr(self, "_process", None)
        if process is not None and process.poll() is None:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except OSError:
                pass
            process.kill()
            process.wait()

    # --- commands, on the shared connection ------------------------------------

    def send_mail(
        self,
        to: Recipients = None,
        cc: Recipients = None,
        bcc: Recipients = None,
        subject: Optional[str] = None,
        body: Optional[str] = None,
        attachments: Sequence[PathLike] = (),
        *,
        silent: bool = True,
        parent: int = 0,
        check_attachments: bool = True,
        timeout: Optional[float] = None,
    ) -> SendResult:
        """SendMail; see Connection.send_mail."""
        return self.connection().send_mail(
            to,
            cc,
            bcc,
            subject,
            body,
            attachments,
            silent=silent,
            parent=parent,
            check_attachments=check_attachments,
            timeout=timeout,
        )

    def get_addresses(
        self,
        to: Recipients = None,
        cc: Recipients = None,
        bcc: Recipients = None,
        *,
        show_address_book: bool = False,
        caption: Optional[str] = None,
        parent: int = 0,
        timeout: Optional[float] = None,
    ) -> AddressResult:
        """OutlookGetAddrs; see Connection.get_addresses."""
        return self.connection().get_addresses(
            to,
            cc,
            bcc,
            show_address_book=show_address_book,
            caption=caption,
            parent=parent,
            timeout=timeout,
        )

    def profile_name(
        self, display_name: Optional[str] = None, *, timeout: Optional[float] = None
    ) -> ProfileResult:
        """AutoCompleteFileName; see Connection.profile_name."""
        return self.connection().profile_name(display_name, timeout=timeout)


def _describe_exit(status: int) -> str:
    return "signal %d" % -status if status < 0 else "exit code %d" % status
