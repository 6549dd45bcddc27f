#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Sends a file by mail through a Broker, as a host application would.

    python3 send_file.py FILE [ADDRESS]

With ADDRESS the message leaves at once, without a window; without it the
compose window opens with the file attached, for the user to address.
"""

import os
import sys

import mailbroker


def main(argv: list[str]) -> int:
    if len(argv) not in (2, 3):
        print("usage: python3 send_file.py FILE [ADDRESS]", file=sys.stderr)
        return 2
    path, address = argv[1], argv[2] if len(argv) == 3 else None
    try:
        with mailbroker.Broker() as broker:
            broker.send_mail(to=[address] if address else None,
                             subject=os.path.basename(path),
                             body="The file %s is attached." % os.path.basename(path),
                             attachments=[path], silent=address is not None)
    except mailbroker.UserCancelled:
        print("send_file: cancelled", file=sys.stderr)
        return 1
    except mailbroker.MailbrokerError as error:
        print("send_file: %s" % error, file=sys.stderr)
        return 1
    print("sent %s to %s" % (path, address) if address else "composing a message with %s" % path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
