# SPDX-License-Identifier: MIT
"""Status codes as a Broker reports them, and their names.

A Broker writes a command's status as a signed 32-bit decimal: negative is a
failure, 0 success, positive a warning (the command did its work in part).
The names are those mailbroker-client prints, so that a host's log and the
client's message read alike.
"""

from __future__ import annotations

__all__ = [
    "S_OK",
    "MAPI_E_NO_ACCESS",
    "MAPI_E_NOT_FOUND",
    "MAPI_E_USER_CANCEL",
    "MAPI_E_INVALID_PARAMETER",
    "MAPI_E_NO_RECIPIENTS",
    "MAPI_E_LOGON_FAILED",
    "MAPI_E_NO_SUPPORT",
    "status_name",
    "status_text",
    "to_signed",
]

# In the order the Broker's own table has them: where a MAPI name and a
# generic one share a value, the MAPI name stands first and wins.
_TABLE: tuple[tuple[int, str], ...] = (
    (0x00000000, "S_OK"),
    (0x00000001, "S_FALSE"),
    (0x80004005, "MAPI_E_CALL_FAILED"),
    (0x8007000E, "MAPI_E_NOT_ENOUGH_MEMORY"),
    (0x80070057, "MAPI_E_INVALID_PARAMETER"),
    (0x80004002, "MAPI_E_INTERFACE_NOT_SUPPORTED"),
    (0x80070005, "MAPI_E_NO_ACCESS"),
    (0x8000FFFF, "E_UNEXPECTED"),
    (0x80004001, "E_NOTIMPL"),
    (0x80004003, "E_POINTER"),
    (0x80004004, "E_ABORT"),
    (0x80070006, "E_HANDLE"),
    (0x80030001, "STG_E_INVALIDFUNCTION"),
    (0x80030005, "STG_E_ACCESSDENIED"),
    (0x80030008, "STG_E_INSUFFICIENTMEMORY"),
    (0x80030009, "STG_E_INVALIDPOINTER"),
    (0x8003001D, "STG_E_WRITEFAULT"),
    (0x8003001E, "STG_E_READFAULT"),
    (0x80030057, "STG_E_INVALIDPARAMETER"),
    (0x80030070, "STG_E_MEDIUMFULL"),
    (0x80030102, "STG_E_REVERTED"),
    (0x80040102, "MAPI_E_NO_SUPPORT"),
    (0x80040103, "MAPI_E_BAD_CHARWIDTH"),
    (0x80040105, "MAPI_E_STRING_TOO_LONG"),
    (0x80040106, "MAPI_E_UNKNOWN_FLAGS"),
    (0x80040107, "MAPI_E_INVALID_ENTRYID"),
    (0x80040108, "MAPI_E_INVALID_OBJECT"),
    (0x80040109, "MAPI_E_OBJECT_CHANGED"),
    (0x8004010A, "MAPI_E_OBJECT_DELETED"),
    (0x8004010B, "MAPI_E_BUSY"),
    (0x8004010D, "MAPI_E_NOT_ENOUGH_DISK"),
    (0x8004010E, "MAPI_E_NOT_ENOUGH_RESOURCES"),
    (0x8004010F, "MAPI_E_NOT_FOUND"),
    (0x80040110, "MAPI_E_VERSION"),
    (0x80040111, "MAPI_E_LOGON_FAILED"),
    (0x80040112, "MAPI_E_SESSION_LIMIT"),
    (0x80040113, "MAPI_E_USER_CANCEL"),
    (0x80040114, "MAPI_E_UNABLE_TO_ABORT"),
    (0x80040115, "MAPI_E_NETWORK_ERROR"),
    (0x80040116, "MAPI_E_DISK_ERROR"),
    (0x80040117, "MAPI_E_TOO_COMPLEX"),
    (0x80040118, "MAPI_E_BAD_COLUMN"),
    (0x80040119, "MAPI_E_EXTENDED_ERROR"),
    (0x8004011A, "MAPI_E_COMPUTED"),
    (0x8004011B, "MAPI_E_CORRUPT_DATA"),
    (0x8004011C, "MAPI_E_UNCONFIGURED"),
    (0x8004011D, "MAPI_E_FAILONEPROVIDER"),
    (0x8004011E, "MAPI_E_UNKNOWN_CPID"),
    (0x8004011F, "MAPI_E_UNKNOWN_LCID"),
    (0x80040120, "MAPI_E_PASSWORD_CHANGE_REQUIRED"),
    (0x80040121, "MAPI_E_PASSWORD_EXPIRED"),
    (0x80040122, "MAPI_E_INVALID_WORKSTATION_ACCOUNT"),
    (0x80040123, "MAPI_E_INVALID_ACCESS_TIME"),
    (0x80040124, "MAPI_E_ACCOUNT_DISABLED"),
    (0x80040200, "MAPI_E_END_OF_SESSION"),
    (0x80040201, "MAPI_E_UNKNOWN_ENTRYID"),
    (0x80040202, "MAPI_E_MISSING_REQUIRED_COLUMN"),
    (0x00040203, "MAPI_W_NO_SERVICE"),
    (0x80040301, "MAPI_E_BAD_VALUE"),
    (0x80040302, "MAPI_E_INVALID_TYPE"),
    (0x80040303, "MAPI_E_TYPE_NO_SUPPORT"),
    (0x80040304, "MAPI_E_UNEXPECTED_TYPE"),
    (0x80040305, "MAPI_E_TOO_BIG"),
    (0x80040306, "MAPI_E_DECLINE_COPY"),
    (0x80040307, "MAPI_E_UNEXPECTED_ID"),
    (0x00040380, "MAPI_W_ERRORS_RETURNED"),
    (0x80040400, "MAPI_E_UNABLE_TO_COMPLETE"),
    (0x80040401, "MAPI_E_TIMEOUT"),
    (0x80040402, "MAPI_E_TABLE_EMPTY"),
    (0x80040403, "MAPI_E_TABLE_TOO_BIG"),
    (0x80040405, "MAPI_E_INVALID_BOOKMARK"),
    (0x00040481, "MAPI_W_POSITION_CHANGED"),
    (0x00040482, "MAPI_W_APPROX_COUNT"),
    (0x80040500, "MAPI_E_WAIT"),
    (0x80040501, "MAPI_E_CANCEL"),
    (0x80040502, "MAPI_E_NOT_ME"),
    (0x00040580, "MAPI_W_CANCEL_MESSAGE"),
    (0x80040600, "MAPI_E_CORRUPT_STORE"),
    (0x80040601, "MAPI_E_NOT_IN_QUEUE"),
    (0x80040602, "MAPI_E_NO_SUPPRESS"),
    (0x80040604, "MAPI_E_COLLISION"),
    (0x80040605, "MAPI_E_NOT_INITIALIZED"),
    (0x80040606, "MAPI_E_NON_STANDARD"),
    (0x80040607, "MAPI_E_NO_RECIPIENTS"),
    (0x80040608, "MAPI_E_SUBMITTED"),
    (0x80040609, "MAPI_E_HAS_FOLDERS"),
    (0x8004060A, "MAPI_E_HAS_MESSAGES"),
    (0x8004060B, "MAPI_E_FOLDER_CYCLE"),
    (0x00040680, "MAPI_W_PARTIAL_COMPLETION"),
    (0x80040700, "MAPI_E_AMBIGUOUS_RECIP"),
)


def to_signed(code: int) -> int:
    """The signed 32-bit value of a code given either way (0x80040113 or -2147221229)."""
    code &= 0xFFFFFFFF
    return code - (1 << 32) if code & 0x80000000 else code


_NAMES: dict[int, str] = {}
for _value, _name in _TABLE:
    _NAMES.setdefault(to_signed(_value), _name)
del _value, _name

S_OK = 0
MAPI_E_NO_ACCESS = to_signed(0x80070005)
MAPI_E_INVALID_PARAMETER = to_signed(0x80070057)
MAPI_E_NO_SUPPORT = to_signed(0x80040102)
MAPI_E_NOT_FOUND = to_signed(0x8004010F)
MAPI_E_LOGON_FAILED = to_signed(0x80040111)
MAPI_E_USER_CANCEL = to_signed(0x80040113)
MAPI_E_NO_RECIPIENTS = to_signed(0x80040607)


def status_name(code: int) -> str:
    """"MAPI_E_USER_CANCEL" for a known code, else its eight hex digits ("0x80041234")."""
    signed = to_signed(code)
    return _NAMES.get(signed, "0x%08X" % (signed & 0xFFFFFFFF))


def status_text(code: int) -> str:
    """"MAPI_E_USER_CANCEL (0x80040113)", or "0x80041234" for a code without a name."""
    signed = to_signed(code)
    hexadecimal = "0x%08X" % (signed & 0xFFFFFFFF)
    name = _NAMES.get(signed)
    return "%s (%s)" % (name, hexadecimal) if name is not None else hexadecimal
