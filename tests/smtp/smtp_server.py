#!/usr/bin/python3
"""A loopback SMTP server for the delivery tests.

Binds 127.0.0.1 (port 0 unless --port), prints the port on a line of its own,
then serves until killed. Each accepted message is saved in --dir as
NNNN.eml with NNNN.json beside it ({"mail_from": ..., "rcpt_tos": [...]}),
both complete before they appear.

The behaviour is read, at every connection, from --mode-file when given (one
word), else --mode:
  accept     take every message
  refuse4xx  answer the message with 451
  refuse5xx  answer the message with 554
  drop       close the connection in the middle of DATA
  stall      stop answering in the middle of DATA
  silent     never send the greeting
In drop and stall modes a file "data-started" appears in --dir once the
message has begun. With --auth USER:PASSWORD the server offers AUTH (without
TLS), refuses mail from clients that did not log in with those, and records
the login in the envelope as "auth_login".
"""
import argparse
import asyncio
import json
import os
import sys

from aiosmtpd.smtp import SMTP, AuthResult

MODES = ("accept", "refuse4xx", "refuse5xx", "drop", "stall", "silent")


class Options:
    def __init__(self, args):
        self.args = args
        self.count = 0

    def mode(self):
        if self.args.mode_file:
            try:
                with open(self.args.mode_file, encoding="ascii") as f:
                    word = f.read().strip()
                if word in MODES:
                    return word
            except OSError:
                pass
        return self.args.mode


class Handler:
    def __init__(self, options):
        self.options = options

    async def handle_DATA(self, server, session, envelope):
        mode = server.mode
        if mode == "refuse4xx":
            return "451 4.3.0 Mailbox busy, try again later"
        if mode == "refuse5xx":
            return "554 5.7.1 Message refused by policy"
        self.options.count += 1
        base = os.path.join(self.options.args.dir, "%04d" % self.options.count)
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".json.tmp", "w", encoding="utf-8") as f:
            login = session.auth_data.login.decode() if session.auth_data else None
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                       "auth_login": login}, f)
        os.rename(base + ".json.tmp", base + ".json")
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 2.0.0 Queued as %04d" % self.options.count


class Server(SMTP):
    def __init__(self, options):
        auth = {}
        if options.args.auth:
            user, _, password = options.args.auth.partition(":")
            auth = dict(authenticator=self.check_login, auth_require_tls=False,
                        auth_required=True)
            self.expected = (user.encode(), password.encode())
        super().__init__(Handler(options), hostname="smtp.test", data_size_limit=None,
                         enable_SMTPUTF8=True, **auth)
        self.mode = options.mode()
        self.dir = options.args.dir

    def check_login(self, server, session, envelope, mechanism, auth_data):
        ok = (auth_data.login, auth_data.password) == self.expected
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    async def _handle_client(self):
        if self.mode == "silent":
            await asyncio.sleep(3600)
            return
        await super()._handle_client()

    async def smtp_DATA(self, arg):
        if self.mode not in ("drop", "stall"):
            await super().smtp_DATA(arg)
            return
        await self.push("354 End data with <CR><LF>.<CR><LF>")
        await self._reader.readuntil(b"\r\n")
        with open(os.path.join(self.dir, "data-started"), "w", encoding="ascii"):
            pass
        if self.mode == "stall":
            await asyncio.sleep(3600)
        self.transport.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--mode", choices=MODES, default="accept")
    parser.add_argument("--mode-file")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--auth")
    args = parser.parse_args()
    options = Options(args)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: Server(options), "127.0.0.1", args.port,
                                      reuse_address=True)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
