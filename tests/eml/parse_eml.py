#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Describe an RFC 5322 message file as one line of canonical JSON.

Parses with nothing but the standard library's email package, so that the
provider's output is checked by a reader that shares no code with its
writer. Prints (keys sorted, ASCII only, no blanks):

  from, to, cc, bcc   lists of [display name, address], decoded; a group's
                      members are listed in place
  groups              only when an address header holds a group (RFC 5322
                      "name: member, member;"): {header: [[group name,
                      [address, ...]], ...]} for to, cc and bcc
  subject             decoded, or null when absent
  has_date            whether a Date header is present and parses
  message_id_domain   the part after '@' of Message-ID, or null
  x_headers           {name: value} of every X- header
  body                the text/plain body, decoded to text
  body_charset        its charset parameter
  attachments         per attachment, in order: filename (Content-
                      Disposition, RFC 2231 decoded), name_param (the
                      Content-Type name, RFC 2047 decoded), content_type,
                      size and sha256 of the decoded bytes

Exit status 1 with a message on stderr when the file does not parse as a
MIME message with a text body.
"""
import email
import email.header
import email.policy
import email.utils
import hashlib
import json
import sys


def addresses(message, name):
    header = message[name]
    if header is None:
        return []
    return [[a.display_name, a.addr_spec] for a in header.addresses]


def groups(message):
    found = {}
    for name in ("to", "cc", "bcc"):
        header = message[name]
        if header is None:
            continue
        named = [[g.display_name, [a.addr_spec for a in g.addresses]]
                 for g in header.groups if g.display_name is not None]
        if named:
            found[name] = named
    return found


def decoded_name_param(part):
    # The compat32 reading keeps the raw parameter, so that its RFC 2047
    # words are decoded here, explicitly.
    raw = part.get_param("name", header="content-type")
    if raw is None:
        return None
    if isinstance(raw, tuple):
        raw = email.utils.collapse_rfc2231_value(raw)
    raw = email.utils.unquote(raw)
    return str(email.header.make_header(email.header.decode_header(raw)))


def describe(path):
    with open(path, "rb") as handle:
        data = handle.read()
    message = email.message_from_bytes(data, policy=email.policy.default)
    compat = email.message_from_bytes(data)
    # A truncated file shows as defects (a missing closing boundary, say)
    # on the part where the damage is, not only on the message.
    defects = [d for part in message.walk() for d in part.defects]
    if defects:
        raise ValueError("message defects: %r" % defects)

    date = message["date"]
    has_date = False
    if date is not None:
        try:
            has_date = email.utils.parsedate_to_datetime(str(date)) is not None
        except (TypeError, ValueError):
            has_date = False
    message_id = message["message-id"]
    domain = None
    if message_id is not None and "@" in str(message_id):
        domain = str(message_id).strip().strip("<>").rsplit("@", 1)[1]

    body_part = message.get_body(preferencelist=("plain",))
    if body_part is None:
        raise ValueError("no text/plain body")

    attachments = []
    compat_parts = [p for p in compat.walk() if not p.is_multipart()]
    parts = [p for p in message.walk() if not p.is_multipart()]
    for part, raw in zip(parts, compat_parts):
        if part is body_part:
            continue
        payload = part.get_payload(decode=True) or b""
        attachments.append({
            "filename": part.get_filename(),
            "name_param": decoded_name_param(raw),
            "content_type": part.get_content_type(),
            "size": len(payload),
            "sha256": hashlib.sha256(payload).hexdigest(),
        })

    subject = message["subject"]
    described = {
        "from": addresses(message, "from"),
        "to": addresses(message, "to"),
        "cc": addresses(message, "cc"),
        "bcc": addresses(message, "bcc"),
        "subject": None if subject is None else str(subject),
        "has_date": has_date,
        "message_id_domain": domain,
        "x_headers": {k: str(v) for k, v in message.items() if k.lower().startswith("x-")},
        "body": body_part.get_content(),
        "body_charset": body_part.get_content_charset(),
        "attachments": attachments,
    }
    grouped = groups(message)
    if grouped:
        described["groups"] = grouped
    return described


def main(argv):
    if len(argv) != 2:
        print("usage: parse_eml.py FILE", file=sys.stderr)
        return 2
    try:
        result = describe(argv[1])
    except (OSError, ValueError, LookupError) as error:
        print("parse_eml.py: %s: %s" % (argv[1], error), file=sys.stderr)
        return 1
    print(json.dumps(result, sort_keys=True, ensure_ascii=True, separators=(",", ":")))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
