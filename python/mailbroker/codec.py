# SPDX-License-Identifier: MIT
"""The frame and the percent codec of the Broker's pipe, byte for byte as the
Broker reads and writes them.

A request or a reply is five 32-bit little-endian words (magic, version, the
sender's process id, a message id, the payload length), each a pipe message
of its own, then the payload as one more message. The payload is a query:
``name?key=value&key=value``, every part percent-encoded over UTF-8.
"""

from __future__ import annotations

import enum
import struct
from dataclasses import dataclass
from typing import Iterable, Mapping, Union

__all__ = [
    "FRAME_MAGIC",
    "FRAME_VERSION",
    "FRAME_MAX_LENGTH",
    "REQUEST_MAX_LENGTH",
    "FRAME_HEADER_BYTES",
    "FrameError",
    "FrameHeader",
    "BadEscape",
    "encode_frame_word",
    "decode_frame_word",
    "encode_frame_header",
    "decode_frame_header",
    "validate_frame_header",
    "percent_encode",
    "percent_decode",
    "narrow_text",
    "encode_query",
    "decode_query",
]

FRAME_MAGIC = 0xFFFE00FF
FRAME_VERSION = 0x00010000
# The largest payload length a header may announce.
FRAME_MAX_LENGTH = 0x7FFFFFFF
# The largest request a Broker reads: a longer one ends the connection unread.
REQUEST_MAX_LENGTH = 64 << 20
FRAME_WORD_COUNT = 5
FRAME_WORD_BYTES = 4
FRAME_HEADER_BYTES = FRAME_WORD_COUNT * FRAME_WORD_BYTES

_WORD = struct.Struct("<I")
_HEADER = struct.Struct("<5I")


class FrameError(enum.Enum):
    """Why a header was refused; checked in this order, the first failure reported."""

    NONE = "valid frame header"
    TRUNCATED = "frame header is shorter than 20 bytes"
    BAD_MAGIC = "frame header has the wrong magic number"
    BAD_VERSION = "frame header has an unknown version"
    LENGTH_OVER_LIMIT = "frame header announces a payload over the length limit"


@dataclass(frozen=True)
class FrameHeader:
    """The five words in the order they travel."""

    process_id: int = 0
    message_id: int = 0
    length: int = 0
    magic: int = FRAME_MAGIC
    version: int = FRAME_VERSION

    def words(self) -> tuple[int, int, int, int, int]:
        return (self.magic, self.version, self.process_id, self.message_id, self.length)

    @classmethod
    def from_words(cls, words: Iterable[int]) -> "FrameHeader":
        magic, version, process_id, message_id, length = words
        return cls(process_id, message_id, length, magic, version)


def encode_frame_word(value: int) -> bytes:
    """One word as its four little-endian bytes."""
    return _WORD.pack(value & 0xFFFFFFFF)


def decode_frame_word(data: bytes) -> int:
    """The first four bytes of ``data`` as a little-endian word."""
    return _WORD.unpack_from(data)[0]


def encode_frame_header(header: FrameHeader) -> bytes:
    """The 20 bytes the header's five words make on the wire."""
    return _HEADER.pack(*(w & 0xFFFFFFFF for w in header.words()))


def validate_frame_header(header: FrameHeader) -> FrameError:
    """Checks magic, version and length, in that order."""
    if header.magic != FRAME_MAGIC:
        return FrameError.BAD_MAGIC
    if header.version != FRAME_VERSION:
        return FrameError.BAD_VERSION
    if header.length > FRAME_MAX_LENGTH:
        return FrameError.LENGTH_OVER_LIMIT
    return FrameError.NONE


def decode_frame_header(data: bytes) -> tuple[FrameHeader, FrameError]:
    """The first 20 bytes of ``data`` as a header, and its verdict.

    Fields the input does not reach whole stay 0, and a short input is
    TRUNCATED whatever else it holds; bytes after the header are left alone.
    """
    words = [0] * FRAME_WORD_COUNT
    whole = len(data) // FRAME_WORD_BYTES
    for i in range(min(whole, FRAME_WORD_COUNT)):
        words[i] = _WORD.unpack_from(data, i * FRAME_WORD_BYTES)[0]
    header = FrameHeader.from_words(words)
    error = validate_frame_header(header)
    if len(data) < FRAME_HEADER_BYTES:
        error = FrameError.TRUNCATED
    return header, error


# --- percent codec ---------------------------------------------------------

_UNRESERVED = frozenset(
    b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!'()*,-./:_~"
)
_ESCAPES = {c: "%%%02x" % c for c in range(256) if c not in _UNRESERVED}
_HEX = {c: int(chr(c), 16) for c in b"0123456789abcdefABCDEF"}
# What the Broker's scanner skips before the digits of "%2x".
_BLANKS = frozenset(b" \t\n\v\f\r")


class BadEscape(ValueError):
    """A malformed escape group; ``group`` holds its bytes as read (up to three)."""

    def __init__(self, group: bytes) -> None:
        super().__init__("bad escape sequence: " + group.decode("latin-1"))
        self.group = group


def percent_encode(text: Union[str, bytes]) -> str:
    """Unreserved bytes (A-Z a-z 0-9 ! ' ( ) * , - . / : _ ~) as themselves,
    every other byte of the UTF-8 form, '+' and the space included, as '%'
    and two lower-case hex digits.

    A str must be encodable as UTF-8 (no lone surrogates): UnicodeEncodeError.
    """
    data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    # Each byte as a Latin-1 character, mapped in C: a body of megabytes stays quick.
    return data.decode("latin-1").translate(_ESCAPES)


def _group_byte(data: bytes, at: int) -> int:
    """The byte of the escape group at ``at``, read as the Broker reads "%2x"."""
    group = data[at : at + 3]
    if len(group) == 3 and group[2] in _HEX:
        if group[1] in _HEX:
            return _HEX[group[1]] * 16 + _HEX[group[2]]
        # The scanner skips one blank and takes a sign before the digit; a
        # negative value is above 255 as unsigned, except for "-0".
        if group[1] in _BLANKS or group[1] == ord("+"):
            return _HEX[group[2]]
        if group[1] == ord("-") and _HEX[group[2]] == 0:
            return 0
    raise BadEscape(group)


def percent_decode(data: Union[str, bytes], start: int = 0, end: int = -1) -> bytes:
    """The bytes that ``data[start:end]`` stands for (end -1: to the end).

    Both hex cases decode and '+' stays '+'. An escape group may reach past
    ``end`` up to the end of ``data``, as in the Broker. The result ends at the
    first NUL it holds. Raises BadEscape for a malformed group.
    """
    raw = data.encode("utf-8") if isinstance(data, str) else bytes(data)
    nul = raw.find(0)
    if nul >= 0:
        raw = raw[:nul]  # the text ends at its first NUL
    if end < 0 or end > len(raw):
        end = len(raw)
    out = bytearray()
    i = start
    while i < end:
        p = raw.find(b"%", i, end)
        if p < 0:
            out += raw[i:end]
            break
        out += raw[i:p]
        out.append(_group_byte(raw, p))
        i = p + 3
    cut = out.find(0)
    return bytes(out if cut < 0 else out[:cut])


# Windows-1252 with every byte mapped: the five holes are the C1 controls
# of the same value, as Windows maps them.
_CP1252 = "".join(
    bytes([b]).decode("cp1252") if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else chr(b)
    for b in range(256)
)


def _well_formed(data: bytes) -> bool:
    """The Broker's test for UTF-8: lead and continuation bytes fit (longer
    and overlong forms and surrogates included, as it does not judge those)."""
    i, n = 0, len(data)
    while i < n:
        b = data[i]
        if b < 0x80:
            i += 1
            continue
        if b < 0xC0 or b >= 0xFE:
            return False
        follow = 1 if b < 0xE0 else 2 if b < 0xF0 else 3 if b < 0xF8 else 4 if b < 0xFC else 5
        if n - i <= follow:
            return False
        if any(c & 0xC0 != 0x80 for c in data[i + 1 : i + 1 + follow]):
            return False
        i += follow + 1
    return True


def narrow_text(data: bytes) -> str:
    """Decoded bytes as the Broker takes them: UTF-8 when well-formed, else
    Windows-1252. Sequences the Broker passes as UTF-8 that Python's strict
    decoder refuses (surrogates, overlong forms) come back as surrogate escapes,
    so that nothing is lost."""
    if _well_formed(data):
        return data.decode("utf-8", "surrogateescape")
    return data.decode("latin-1").translate(_CP1252_TABLE)


_CP1252_TABLE = {i: ch for i, ch in enumerate(_CP1252) if ord(ch) != i}


def encode_query(name: str, params: Mapping[str, str]) -> str:
    """``name?key=value&...`` with every part percent-encoded, keys in byte order.

    A name alone gives ``name?``; no name gives the fields alone.
    """
    parts = []
    if name:
        parts.append(percent_encode(name) + "?")
    items = sorted(((k.encode("utf-8"), k, v) for k, v in params.items()), key=lambda t: t[0])
    parts.append("&".join(percent_encode(k) + "=" + percent_encode(v) for _, k, v in items))
    return "".join(parts)


def decode_query(data: Union[str, bytes]) -> tuple[str, dict[str, str]]:
    """A query's name and fields, as the Broker reads them.

    The first '?' ends the name, each '&' ends a field, the first '=' in a
    field ends its key; empty fields and fields with an empty key are skipped
    and a later key replaces an earlier one. The text ends at its first NUL.
    Raises BadEscape for a malformed escape.
    """
    raw = data.encode("utf-8") if isinstance(data, str) else bytes(data)
    nul = raw.find(0)
    if nul >= 0:
        raw = raw[:nul]
    length = len(raw)
    question = raw.find(b"?")
    if question < 0:
        return narrow_text(percent_decode(raw, 0, length)), {}
    name = narrow_text(percent_decode(raw, 0, question))
    params: dict[str, str] = {}
    start = question + 1
    while start <= length:
        amp = raw.find(b"&", start)
        field_end = amp if amp >= 0 else length
        if field_end > start:
            eq = raw.find(b"=", start, field_end)
            key_end = eq if eq >= 0 else field_end
            if key_end > start:
                key = narrow_text(percent_decode(raw, start, key_end))
                value = narrow_text(percent_decode(raw, key_end + 1, field_end)) if eq >= 0 else ""
                params[key] = value
        start = field_end + 1
    return name, params
