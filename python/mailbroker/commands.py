# SPDX-License-Identifier: MIT
"""The three commands: their requests built from typed arguments, their
replies turned into results or exceptions.

Which outcome is which:

* a negative status raises MapiError; MAPI_E_USER_CANCEL raises its subclass
  UserCancelled, and a SendMail that failed on a file to attach (status
  MAPI_E_NOT_FOUND or MAPI_E_NO_ACCESS with attachments) raises
  AttachmentError naming the file;
* a SendMail whose reply says nothing was composed (``result`` other than 1)
  raises MapiError with the status as reported, even when that is 0;
* ``error=Not Supported`` raises CommandNotSupported;
* anything else is a result; a positive status (a warning) is kept in it.
"""

from __future__ import annotations

import errno
import os
import re
import stat
from dataclasses import dataclass, field
from typing import Mapping, Optional, Sequence, Union

from .codec import REQUEST_MAX_LENGTH, encode_query
from .errors import (
    AttachmentError,
    CommandNotSupported,
    MapiError,
    ProtocolError,
    RequestError,
    UserCancelled,
)
from .status import (
    MAPI_E_NO_ACCESS,
    MAPI_E_NOT_FOUND,
    MAPI_E_USER_CANCEL,
    status_name,
    status_text,
)

__all__ = [
    "Recipients",
    "SendResult",
    "AddressResult",
    "ProfileResult",
    "send_mail_request",
    "get_addresses_request",
    "profile_name_request",
    "check_attachment",
    "reply_status",
    "send_mail_result",
    "get_addresses_result",
    "profile_name_result",
]

Recipients = Union[str, Sequence[str], None]
PathLike = Union[str, "os.PathLike[str]"]

SEND_MAIL = "SendMail"
GET_ADDRESSES = "OutlookGetAddrs"
PROFILE_NAME = "AutoCompleteFileName"


@dataclass(frozen=True)
class SendResult:
    """A SendMail the Broker took: silent, submitted (and, with an SMTP
    transport, handed on); otherwise shown in the compose window."""

    status: int
    status_name: str
    result: int  # 1: a message was composed
    attachments: tuple[str, ...] = ()  # the absolute paths sent


@dataclass(frozen=True)
class AddressResult:
    """What OutlookGetAddrs resolved: SMTP addresses with lists expanded,
    a well's items in order (a name that resolved to nothing stays as given).
    A well the request did not offer is an empty list."""

    status: int
    status_name: str
    to: list[str] = field(default_factory=list)
    cc: list[str] = field(default_factory=list)
    bcc: list[str] = field(default_factory=list)


@dataclass(frozen=True)
class ProfileResult:
    """The default profile's name (or the name the request gave, when the
    provider has no default profile to name)."""

    status: int
    status_name: str
    display_name: str


# --- requests ----------------------------------------------------------------


def _text(command: str, what: str, value: object) -> str:
    if not isinstance(value, str):
        raise TypeError("%s: %s must be str, not %s" % (command, what, type(value).__name__))
    try:
        value.encode("utf-8")
    except UnicodeEncodeError:
        raise RequestError("%s: %s is not UTF-8 text" % (command, what)) from None
    # The Broker's text ends at a NUL: what follows would be lost unseen.
    if "\0" in value:
        raise RequestError("%s: %s holds a NUL character" % (command, what))
    return value


def _recipients(command: str, key: str, value: Recipients) -> Optional[str]:
    """One recipient field: a str as it is (items already ';'-separated), a
    sequence joined by ';'; None when the argument was not given."""
    if value is None:
        return None
    if isinstance(value, str):
        return _text(command, key, value)
    if isinstance(value, (bytes, bytearray)):
        raise TypeError("%s: %s must be str or a sequence of str" % (command, key))
    items = []
    for item in value:
        text = _text(command, "a %s recipient" % key, item)
        if ";" in text:
            raise RequestError(
                "%s: the %s recipient %r holds ';', which separates recipients; "
                "give it as two items" % (command, key, text)
            )
        items.append(text)
    return ";".join(items)


def _number(command: str, what: str, value: int, maximum: int) -> str:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s: %s must be int, not %s" % (command, what, type(value).__name__))
    if not 0 <= value <= maximum:
        raise RequestError("%s: %s must be from 0 to %d" % (command, what, maximum))
    return str(value)


def _encoded(command: str, params: Mapping[str, str]) -> str:
    request = encode_query(command, params)
    size = len(request)  # all ASCII once encoded
    if size > REQUEST_MAX_LENGTH:
        raise RequestError(
            "%s: the request would take %d bytes, more than the %d MiB a Broker takes"
            % (command, size, REQUEST_MAX_LENGTH >> 20)
        )
    return request


def _absolute(path: PathLike) -> str:
    try:
        text = os.fspath(path)
    except TypeError:
        raise TypeError(
            "SendMail: an attachment is a path (str or os.PathLike), not %s" % type(path).__name__
        ) from None
    if isinstance(text, bytes):
        try:
            text = text.decode("utf-8")
        except UnicodeDecodeError:
            raise RequestError("SendMail: the attachment path %r is not UTF-8" % text) from None
    if not text:
        raise RequestError("SendMail: an attachment needs a file, not an empty path")
    _text(SEND_MAIL, "the attachment path %r" % text, text)
    if ";" in text:
        raise RequestError(
            "SendMail: cannot attach %s: the request separates attachments with ';', so a "
            "path holding one cannot be passed (rename or link the file)" % text
        )
    if text.startswith("/"):
        return text
    relative = text
    while relative.startswith("./"):
        relative = relative[2:]
    return os.path.join(os.getcwd(), relative)


def check_attachment(path: str) -> Optional[int]:
    """None when the Broker can read ``path`` whole: a regular file this
    process can open whose size tells all its content. Otherwise the status
    the Broker would report: MAPI_E_NOT_FOUND when nothing is there (or a
    link leads nowhere), MAPI_E_NO_ACCESS for anything else (a directory, a
    FIFO, a file without read permission, a /proc file)."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC | os.O_NONBLOCK | os.O_NOCTTY)
    except FileNotFoundError:
        return MAPI_E_NOT_FOUND
    except OSError as e:
        # A missing folder, a link in a loop, a name too long to exist: as
        # the Broker sees them, nothing is there.
        nothing = (errno.ENOTDIR, errno.ELOOP, errno.ENAMETOOLONG)
        return MAPI_E_NOT_FOUND if e.errno in nothing else MAPI_E_NO_ACCESS
    try:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode):
            return MAPI_E_NO_ACCESS
        # The Broker reads exactly the size the file reports: a file with data
        # past it (those of /proc report 0) or failing where its data should
        # be is refused there.
        if st.st_size > 0 and len(os.pread(fd, 1, 0)) != 1:
            return MAPI_E_NO_ACCESS
        if len(os.pread(fd, 1, st.st_size)) != 0:
            return MAPI_E_NO_ACCESS
        return None
    except OSError:
        return MAPI_E_NO_ACCESS
    finally:
        os.close(fd)


def send_mail_request(
    to: Recipients = None,
    cc: Recipients = None,
    bcc: Recipients = None,
    subject: Optional[str] = None,
    body: Optional[str] = None,
    attachments: Sequence[PathLike] = (),
    silent: bool = True,
    parent: int = 0,
    check_attachments: bool = True,
) -> tuple[str, tuple[str, ...]]:
    """The SendMail request text and the absolute attachment paths it carries.

    With ``check_attachments`` every file is looked at first and an
    AttachmentError raised for one the Broker could not read: a compose
    window would otherwise open without it, unremarked.
    """
    params: dict[str, str] = {}
    for key, value in (("to", to), ("cc", cc), ("bcc", bcc)):
        text = _recipients(SEND_MAIL, key, value)
        if text:
            params[key] = text
    if subject is not None:
        params["subject"] = _text(SEND_MAIL, "the subject", subject)
    if body is not None:
        params["message"] = _text(SEND_MAIL, "the body", body)
    if isinstance(attachments, (str, bytes, os.PathLike)):
        attachments = [attachments]  # one path given alone
    paths = tuple(_absolute(p) for p in attachments)
    if check_attachments:
        for path in paths:
            status = check_attachment(path)
            if status is not None:
                raise AttachmentError(
                    "SendMail: attachment %s cannot be read (%s)"
                    % (path, "not found" if status == MAPI_E_NOT_FOUND else "not a readable file"),
                    status,
                    (path,),
                    from_broker=False,
                )
    if paths:
        params["attachment"] = ";".join(paths)
    if silent:
        params["silent"] = "1"
    _number(SEND_MAIL, "parent", parent, 0xFFFFFFFF)
    if parent:
        params["parent"] = str(parent)
    return _encoded(SEND_MAIL, params), paths


def get_addresses_request(
    to: Recipients = None,
    cc: Recipients = None,
    bcc: Recipients = None,
    show_address_book: bool = False,
    caption: Optional[str] = None,
    parent: int = 0,
) -> str:
    """The OutlookGetAddrs request text. A recipient argument given (even an
    empty list) offers its well; with the address book and none given, one
    To well is offered to pick into."""
    params: dict[str, str] = {}
    for key, value in (("to", to), ("cc", cc), ("bcc", bcc)):
        text = _recipients(GET_ADDRESSES, key, value)
        if text is not None:
            params[key] = text
    if show_address_book:
        if not params:
            params["to"] = ""
        params["ShowAddressBook"] = "1"
    if caption is not None:
        params["caption"] = _text(GET_ADDRESSES, "the caption", caption)
    _number(GET_ADDRESSES, "parent", parent, 0x7FFFFFFF)
    if parent:
        params["parent"] = str(parent)
    return _encoded(GET_ADDRESSES, params)


def profile_name_request(display_name: Optional[str] = None) -> str:
    """The AutoCompleteFileName request text; ``display_name`` is what comes
    back when the provider has no default profile to name."""
    params: dict[str, str] = {}
    if display_name is not None:
        params["displayName"] = _text(PROFILE_NAME, "the display name", display_name)
    return _encoded(PROFILE_NAME, params)


# --- replies -----------------------------------------------------------------

_DECIMAL = re.compile(r"[ \t\n\v\f\r]*[+-]?[0-9]+")


def reply_status(command: str, values: Mapping[str, str]) -> int:
    """The reply's status; ProtocolError when it has none that can be read,
    CommandNotSupported for ``error=Not Supported``."""
    error = values.get("error")
    if error is None:
        raise ProtocolError("%s: the reply carries no error field" % command)
    if error == "Not Supported":
        raise CommandNotSupported(
            "%s failed: the Broker does not support it (error=Not Supported)" % command
        )
    if not _DECIMAL.fullmatch(error):
        raise ProtocolError("%s: the reply's error field is not a status code: %s" % (command, error))
    code = int(error)
    if not -(1 << 31) <= code < (1 << 31):
        raise ProtocolError("%s: the reply's error field is not a status code: %s" % (command, error))
    return code


def _raise_failure(command: str, status: int, reply: object) -> None:
    message = "%s failed: %s" % (command, status_text(status))
    if status == MAPI_E_USER_CANCEL:
        raise UserCancelled(message, command, reply)  # type: ignore[arg-type]
    raise MapiError(message, status, command, reply)  # type: ignore[arg-type]


def _items(text: Optional[str]) -> list[str]:
    return [item for item in (text or "").split(";") if item]


def send_mail_result(
    values: Mapping[str, str], attachments: tuple[str, ...] = (), reply: object = None
) -> SendResult:
    status = reply_status(SEND_MAIL, values)
    if status < 0 and attachments and status in (MAPI_E_NOT_FOUND, MAPI_E_NO_ACCESS):
        # The reply carries only the status; the paths sent are known here.
        if len(attachments) == 1:
            unreadable = attachments
        else:
            unreadable = tuple(p for p in attachments if check_attachment(p) is not None)
        if unreadable:
            what = "attachment %s cannot be read" % ", ".join(unreadable)
        else:
            what = "one of the attachments could not be read whole (it may have changed while it was read)"
        raise AttachmentError(
            "SendMail failed: %s: %s" % (status_text(status), what),
            status,
            unreadable,
            from_broker=True,
            reply=reply,  # type: ignore[arg-type]
        )
    if status < 0:
        _raise_failure(SEND_MAIL, status, reply)
    result = values.get("result")
    if result != "1":
        raise MapiError(
            "SendMail failed: no message was composed (result=%s, status %s)"
            % (result if result is not None else "absent", status_text(status)),
            status,
            SEND_MAIL,
            reply,  # type: ignore[arg-type]
        )
    return SendResult(status, status_name(status), 1, attachments)


def get_addresses_result(values: Mapping[str, str], reply: object = None) -> AddressResult:
    status = reply_status(GET_ADDRESSES, values)
    if status < 0:
        _raise_failure(GET_ADDRESSES, status, reply)
    return AddressResult(
        status,
        status_name(status),
        _items(values.get("to")),
        _items(values.get("cc")),
        _items(values.get("bcc")),
    )


def profile_name_result(values: Mapping[str, str], reply: object = None) -> ProfileResult:
    status = reply_status(PROFILE_NAME, values)
    if status < 0:
        _raise_failure(PROFILE_NAME, status, reply)
    return ProfileResult(status, status_name(status), values.get("displayName", ""))
