# SPDX-License-Identifier: MIT
"""The exceptions of the mailbroker module.

Everything the module raises on purpose derives from MailbrokerError::

    MailbrokerError
    ├── BrokerNotFound           no Broker program where one was looked for
    ├── BrokerStartError         the program could not run, or ended before serving
    ├── BrokerConnectionError    (also a ConnectionError) the pipe could not be used
    │   ├── PipeNotFound         no pipe of that name within the time allowed
    │   ├── PipeBusy             every instance stayed busy within the time allowed
    │   ├── PipeAccessDenied     the pipe refuses this user
    │   ├── UnsafePipeFolder     the folder of the pipes is not private to this user
    │   ├── BrokerDisconnected   the Broker closed the connection
    │   └── ReplyTimeout         (also a TimeoutError) no reply within the time allowed
    ├── ProtocolError            the Broker's answer does not follow the frame or codec
    │   └── CommandNotSupported  the Broker does not know the command
    ├── RequestError             (also a ValueError) an argument the request cannot carry
    │   └── InvalidPipeName
    └── MapiError                the command ran and failed; carries the status
        ├── UserCancelled        the user cancelled a dialog (MAPI_E_USER_CANCEL)
        └── AttachmentError      a file to attach cannot be read
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Optional

from .status import MAPI_E_USER_CANCEL, status_name, status_text

if TYPE_CHECKING:  # pragma: no cover
    from .connection import Reply

__all__ = [
    "MailbrokerError",
    "BrokerNotFound",
    "BrokerStartError",
    "BrokerConnectionError",
    "PipeNotFound",
    "PipeBusy",
    "PipeAccessDenied",
    "UnsafePipeFolder",
    "BrokerDisconnected",
    "ReplyTimeout",
    "ProtocolError",
    "CommandNotSupported",
    "RequestError",
    "InvalidPipeName",
    "MapiError",
    "UserCancelled",
    "AttachmentError",
]


class MailbrokerError(Exception):
    """The base of every error this module raises on purpose."""


class BrokerNotFound(MailbrokerError):
    """No Broker program at the path given, in MAILBROKER_BROKER, or installed.

    ``paths`` lists the places looked at, in order.
    """

    def __init__(self, message: str, paths: tuple[str, ...] = ()) -> None:
        super().__init__(message)
        self.paths = paths


class BrokerStartError(MailbrokerError):
    """The Broker program could not be run, or ended before it served its pipe."""


class BrokerConnectionError(MailbrokerError, ConnectionError):
    """The Broker's pipe could not be reached or used.

    Also a built-in ConnectionError, so that code which handles connection
    failures generally handles these too.
    """

    def __init__(self, message: str) -> None:
        # OSError's own argument handling would read a lone message as fine;
        # a single argument keeps str(error) the message itself.
        super().__init__(message)

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""


class PipeNotFound(BrokerConnectionError):
    """No pipe of that name appeared within the time allowed."""


class PipeBusy(BrokerConnectionError):
    """Every instance of the pipe stayed busy within the time allowed."""


class PipeAccessDenied(BrokerConnectionError):
    """The pipe refuses this user."""


class UnsafePipeFolder(BrokerConnectionError):
    """The folder holding the pipes is not a directory of this user closed to all others.

    No Broker can serve there and no client may connect; the message names the
    folder with its owner and mode.
    """


class BrokerDisconnected(BrokerConnectionError):
    """The Broker closed the connection (it ended, or refused what it read)."""


class ReplyTimeout(BrokerConnectionError, TimeoutError):
    """No reply within the time allowed; the connection is closed afterwards."""


class ProtocolError(MailbrokerError):
    """The Broker's answer does not follow the frame or the percent codec."""


class CommandNotSupported(ProtocolError):
    """The Broker answered that it does not know the command."""


class RequestError(MailbrokerError, ValueError):
    """An argument the request cannot carry (a NUL, a ';' in a path, text that
    is not UTF-8, a request over the Broker's limit); nothing was sent."""


class InvalidPipeName(RequestError):
    """A pipe name that cannot name a pipe: empty, too long, or not UTF-8."""


class MapiError(MailbrokerError):
    """The Broker ran the command and it failed.

    ``status`` is the signed 32-bit status the Broker reported (negative for
    a failure; 0 or a warning for a SendMail that composed nothing),
    ``status_name`` its name, ``command`` the request's name and ``reply``
    the whole reply, for a host that wants what came back with the failure
    (OutlookGetAddrs, for one, hands back the texts as they were sent).
    """

    def __init__(
        self,
        message: str,
        status: int,
        command: str = "",
        reply: Optional["Reply"] = None,
    ) -> None:
        super().__init__(message)
        self.status = status
        self.status_name = status_name(status)
        self.command = command
        self.reply = reply

    @property
    def status_text(self) -> str:
        """The status as "NAME (0xHHHHHHHH)"."""
        return status_text(self.status)


class UserCancelled(MapiError):
    """The user cancelled a dialog the command showed (MAPI_E_USER_CANCEL).

    An exception rather than a result: nothing the host asked for happened,
    and code that only wants success can let it propagate. It is a MapiError,
    so one ``except MapiError`` still covers every failure of a command.
    """

    def __init__(
        self, message: str, command: str = "", reply: Optional["Reply"] = None
    ) -> None:
        super().__init__(message, MAPI_E_USER_CANCEL, command, reply)


class AttachmentError(MapiError):
    """A file to attach cannot be read; nothing was sent.

    ``path`` is the first file found unreadable (None when every file reads
    now and one of them changed while the Broker read it), ``paths`` all of
    them. ``status`` is MAPI_E_NOT_FOUND (nothing at the path) or
    MAPI_E_NO_ACCESS (something there that cannot be read whole), as the
    Broker reports it; ``from_broker`` says whether the Broker found the fault
    (True) or the check before sending did (False).
    """

    def __init__(
        self,
        message: str,
        status: int,
        paths: tuple[str, ...],
        from_broker: bool,
        command: str = "SendMail",
        reply: Optional["Reply"] = None,
    ) -> None:
        super().__init__(message, status, command, reply)
        self.paths = paths
        self.path = paths[0] if paths else None
        self.from_broker = from_broker
