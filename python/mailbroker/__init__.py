# SPDX-License-Identifier: MIT
"""mailbroker: send mail, resolve addresses and name the mail profile from
Python, through a Broker this process starts.

The module speaks the Broker's pipe protocol itself and needs nothing but
the standard library::

    import mailbroker

    with mailbroker.Broker() as broker:
        broker.send_mail(to=["ann@example.org"], subject="Report",
                         body="Here it is.", attachments=["report.pdf"])

The Broker program is the one given to Broker(), else the one named by the
environment variable MAILBROKER_BROKER, else the installed one. Failures
raise the exceptions of mailbroker.errors, all MailbrokerError.
"""

from .broker import ENV_BROKER, Broker, find_broker, fresh_pipe_name
from .commands import AddressResult, ProfileResult, SendResult
from .connection import Connection, Reply, connect
from .errors import (
    AttachmentError,
    BrokerConnectionError,
    BrokerDisconnected,
    BrokerNotFound,
    BrokerStartError,
    CommandNotSupported,
    InvalidPipeName,
    MailbrokerError,
    MapiError,
    PipeAccessDenied,
    PipeBusy,
    PipeNotFound,
    ProtocolError,
    ReplyTimeout,
    RequestError,
    UnsafePipeFolder,
    UserCancelled,
)
from .status import status_name, status_text

__version__ = "1.0.0"

__all__ = [
    "Broker",
    "Connection",
    "Reply",
    "connect",
    "find_broker",
    "fresh_pipe_name",
    "ENV_BROKER",
    "SendResult",
    "AddressResult",
    "ProfileResult",
    "status_name",
    "status_text",
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
