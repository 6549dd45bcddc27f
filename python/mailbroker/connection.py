# SPDX-License-Identifier: MIT
"""One connection to a Broker's pipe: framed requests and their replies, and
the three commands on top."""

from __future__ import annotations

import os
import threading
from dataclasses import dataclass, field
from typing import Optional, Sequence, Union

from . import commands
from .codec import (
    FRAME_HEADER_BYTES,
    REQUEST_MAX_LENGTH,
    BadEscape,
    FrameError,
    FrameHeader,
    decode_frame_word,
    decode_query,
    encode_frame_word,
    validate_frame_header,
)
from .commands import AddressResult, PathLike, ProfileResult, Recipients, SendResult
from .errors import ProtocolError, RequestError
from .pipe import MessagePipe

__all__ = ["Reply", "Connection", "connect", "DEFAULT_CONNECT_TIMEOUT"]

# How long a connect waits for a pipe that is missing or busy, as the C++
# host library does.
DEFAULT_CONNECT_TIMEOUT = 5.0
# The Broker never sends a reply of 0x10000000 bytes or more.
_MAX_REPLY_LENGTH = 0x0FFFFFFF
# Once a reply has begun, the rest of it follows at once.
_REST_OF_REPLY = 5.0


@dataclass(frozen=True)
class Reply:
    """A reply as it came: its name, its fields, and the frame's ids."""

    name: str
    values: dict[str, str] = field(default_factory=dict)
    message_id: int = 0
    process_id: int = 0
    text: bytes = b""


class Connection:
    """A connection to the pipe of a running Broker.

    Requests on one connection run one after another (a lock keeps threads
    from interleaving frames). ``timeout`` on a request bounds the wait for its
    reply, None waiting for as long as it takes: every command may be
    waiting on a person in a dialog. Use it in a ``with`` block, or call
    close().
    """

    def __init__(self, pipe: MessagePipe, pipe_name: str) -> None:
        self._pipe = pipe
        self.pipe_name = pipe_name
        self._next_id = 1
        self._lock = threading.Lock()

    @classmethod
    def open(cls, pipe_name: str, timeout: float = DEFAULT_CONNECT_TIMEOUT) -> "Connection":
        """Connects to ``\\\\.\\pipe\\`` + pipe_name, retrying while the pipe is
        missing or busy for up to ``timeout`` seconds."""
        return cls(MessagePipe.connect(pipe_name, timeout), pipe_name)

    @property
    def is_open(self) -> bool:
        return self._pipe.is_open

    def close(self) -> None:
        self._pipe.close()

    def __enter__(self) -> "Connection":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    # --- frames ---------------------------------------------------------------

    def request(self, payload: Union[str, bytes], timeout: Optional[float] = None) -> Reply:
        """Sends one request frame and reads its reply, which must carry the
        request's message id. ``payload`` is the query text (see codec)."""
        data = payload.encode("utf-8") if isinstance(payload, str) else bytes(payload)
        if len(data) > REQUEST_MAX_LENGTH:
            raise RequestError(
                "the request is %d bytes, more than the %d MiB a Broker takes"
                % (len(data), REQUEST_MAX_LENGTH >> 20)
            )
        with self._lock:
            message_id = self._next_id
            self._next_id = (self._next_id + 1) & 0xFFFFFFFF or 1
            header = FrameHeader(os.getpid() & 0xFFFFFFFF, message_id, len(data))
            self._pipe.write_messages(*(encode_frame_word(w) for w in header.words()), data)
            reply = self._receive(timeout)
        if reply.message_id != message_id:
            self.close()
            raise ProtocolError(
                "the reply carries message id %d, the request %d" % (reply.message_id, message_id)
            )
        return reply

    def _receive(self, timeout: Optional[float]) -> Reply:
        words = []
        for i in range(FRAME_HEADER_BYTES // 4):
            word = self._pipe.read_message(4, timeout if i == 0 else _REST_OF_REPLY)
            if len(word) != 4:
                self._pipe.close()
                raise ProtocolError("a reply header field is %d bytes, not 4" % len(word))
            words.append(decode_frame_word(word))
        header = FrameHeader.from_words(words)
        verdict = validate_frame_header(header)
        if verdict in (FrameError.BAD_MAGIC, FrameError.BAD_VERSION):
            self._pipe.close()
            raise ProtocolError("the reply's frame header is not valid: " + verdict.value)
        if verdict is not FrameError.NONE or header.length > _MAX_REPLY_LENGTH:
            self._pipe.close()
            raise ProtocolError("the reply announces %d bytes" % header.length)
        text = self._pipe.read_message(header.length, _REST_OF_REPLY)
        if len(text) != header.length:
            self._pipe.close()
            raise ProtocolError(
                "the reply's payload is %d bytes, not %d" % (len(text), header.length)
            )
        try:
            name, values = decode_query(text)
        except BadEscape as e:
            raise ProtocolError("the reply cannot be decoded: %s" % e) from None
        return Reply(name, values, header.message_id, header.process_id, text)

    # --- commands -------------------------------------------------------------

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
        """SendMail: a message to the recipients, with the files attached.

        Recipients are e-mail addresses or names the address book resolves,
        as a list (or one ';'-separated str). ``silent`` submits at once; a
        name that matches several entries then still asks in a dialog.
        Without it the compose window opens, filled in, and the call returns
        once it shows. ``parent`` is the host's window (an X11 window id) the
        dialogs stay above. Relative paths are taken from the current folder.

        Raises AttachmentError for a file that cannot be read (checked before
        sending unless ``check_attachments`` is False, and reported by the
        Broker either way), UserCancelled when a dialog was cancelled,
        MapiError for any other failure, including a message the Broker did
        not compose.
        """
        request, paths = commands.send_mail_request(
            to, cc, bcc, subject, body, attachments, silent, parent, check_attachments
        )
        reply = self.request(request, timeout)
        return commands.send_mail_result(reply.values, paths, reply)

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
        """OutlookGetAddrs: the recipient texts of each well resolved to SMTP
        addresses, distribution lists expanded, each mailbox once.

        A name that matches several entries is asked about in a dialog. With
        ``show_address_book`` the address book opens on the wells given (an
        empty list offers an empty well; none given, one To well), under
        ``caption``. Raises UserCancelled when the user cancels, MapiError
        when a text cannot be resolved (the reply, with the texts as sent, is
        the exception's ``reply``).
        """
        request = commands.get_addresses_request(to, cc, bcc, show_address_book, caption, parent)
        reply = self.request(request, timeout)
        return commands.get_addresses_result(reply.values, reply)

    def profile_name(
        self, display_name: Optional[str] = None, *, timeout: Optional[float] = None
    ) -> ProfileResult:
        """AutoCompleteFileName: the default profile's display name.

        ``display_name`` comes back instead when no default profile can be
        named.
        """
        reply = self.request(commands.profile_name_request(display_name), timeout)
        return commands.profile_name_result(reply.values, reply)


def connect(pipe_name: str, timeout: float = DEFAULT_CONNECT_TIMEOUT) -> Connection:
    """A connection to a Broker another process started on ``pipe_name``."""
    return Connection.open(pipe_name, timeout)

