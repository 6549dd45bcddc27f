#!/usr/bin/python3
# SPDX-License-Identifier: MIT
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
the login in the envelope as "auth_login" (and the mechanism as
"auth_mechanism"). With --bearer USER:TOKEN it offers XOAUTH2 and OAUTHBEARER
instead of passwords, and takes only that user with that access token. With
--external it offers only EXTERNAL, and takes a client that showed a
certificate (with --client-ca), as the certificate's common name.

TLS: --tls-cert and --tls-key offer STARTTLS with that certificate, or, with
--implicit-tls, speak TLS from the first byte. --client-ca FILE asks for a
client certificate signed by that CA and refuses the handshake without one.
The envelope records "tls": true when the message came over TLS, and
"client_cn", the client certificate's common name, when there was one.
"""
import argparse
import asyncio
import base64
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

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
            secure = server.transport.get_extra_info("ssl_object") is not None
            peer = server.transport.get_extra_info("peercert") or {}
            common = [value for rdn in peer.get("subject", ()) for key, value in rdn
                      if key == "commonName"]
            record = {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                      "auth_login": login}
            # Only when there is something to tell, so plain records stay as
            # they always were.
            if getattr(session, "mechanism", None):
                record["auth_mechanism"] = session.mechanism
            if secure:
                record["tls"] = True
            if common:
                record["client_cn"] = common[0]
            json.dump(record, f)
        os.rename(base + ".json.tmp", base + ".json")
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 2.0.0 Queued as %04d" % self.options.count


class BearerHandler(Handler):
    """Takes XOAUTH2 and OAUTHBEARER with one user's access token."""

    def __init__(self, options):
        super().__init__(options)
        user, _, token = options.args.bearer.partition(":")
        self.expected = (user, token)

    async def _response(self, server, args):
        if len(args) > 1:
            try:
                return base64.b64decode(args[1], validate=True).decode()
            except ValueError:
                return None
        blob = await server.challenge_auth("")
        return blob.decode() if isinstance(blob, bytes) else None

    def _check(self, server, mechanism, user, token):
        server.session.mechanism = mechanism
        if (user, token) != self.expected:
            return AuthResult(success=False, handled=False)
        return AuthResult(success=True, auth_data=LoginPassword(user.encode(), b""))

    async def auth_XOAUTH2(self, server, args):
        # user=USER ^A auth=Bearer TOKEN ^A ^A
        text = await self._response(server, args) or ""
        fields = dict(part.split("=", 1) for part in text.split("\x01") if "=" in part)
        token = fields.get("auth", "")
        return self._check(server, "XOAUTH2", fields.get("user"),
                           token[7:] if token.startswith("Bearer ") else None)

    async def auth_OAUTHBEARER(self, server, args):
        # n,a=USER, ^A host=... ^A port=... ^A auth=Bearer TOKEN ^A ^A
        text = await self._response(server, args) or ""
        header, _, rest = text.partition("\x01")
        user = next((part[2:] for part in header.split(",") if part.startswith("a=")), None)
        fields = dict(part.split("=", 1) for part in rest.split("\x01") if "=" in part)
        token = fields.get("auth", "")
        return self._check(server, "OAUTHBEARER", user,
                           token[7:] if token.startswith("Bearer ") else None)


class ExternalHandler(Handler):
    """SASL EXTERNAL: the login is the client certificate's common name."""

    async def auth_EXTERNAL(self, server, args):
        server.session.mechanism = "EXTERNAL"
        if len(args) == 1:
            # No initial response: ask for the authorization identity, which
            # may be empty (the certificate's own).
            # A lone "=" is an empty response (RFC 4954).
            await server.push("334 ")
            line = (await server._reader.readline()).strip()
            if line == b"*":
                await server.push("501 5.7.0 Auth aborted")
                return AuthResult(success=False, handled=True)
        peer = server.transport.get_extra_info("peercert") or {}
        common = [value for rdn in peer.get("subject", ()) for key, value in rdn
                  if key == "commonName"]
        if not common:
            return AuthResult(success=False, handled=False)
        return AuthResult(success=True, auth_data=LoginPassword(common[0].encode(), b""))


def tls_context(args):
    if not args.tls_cert:
        return None
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.tls_cert, args.tls_key)
    if args.client_ca:
        context.verify_mode = ssl.CERT_REQUIRED
        context.load_verify_locations(args.client_ca)
    return context


class Server(SMTP):
    def __init__(self, options):
        auth = {}
        handler = Handler(options)
        if options.args.auth:
            user, _, password = options.args.auth.partition(":")
            auth = dict(authenticator=self.check_login, auth_require_tls=False,
                        auth_required=True)
            self.expected = (user.encode(), password.encode())
        elif options.args.external:
            handler = ExternalHandler(options)
            auth = dict(authenticator=self.check_login, auth_require_tls=False,
                        auth_required=True, auth_exclude_mechanism=["LOGIN", "PLAIN"])
            self.expected = (None, None)
        elif options.args.bearer:
            handler = BearerHandler(options)
            auth = dict(authenticator=self.check_login, auth_require_tls=False,
                        auth_required=True, auth_exclude_mechanism=["LOGIN", "PLAIN"])
            self.expected = (None, None)
        starttls = {}
        if options.args.tls_cert and not options.args.implicit_tls:
            starttls = dict(tls_context=tls_context(options.args), require_starttls=False)
        super().__init__(handler, hostname="smtp.test", data_size_limit=None,
                         enable_SMTPUTF8=True, **auth, **starttls)
        self.mode = options.mode()
        self.dir = options.args.dir

    def check_login(self, server, session, envelope, mechanism, auth_data):
        session.mechanism = mechanism
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
    parser.add_argument("--bearer")
    parser.add_argument("--external", action="store_true")
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--client-ca")
    args = parser.parse_args()
    options = Options(args)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: Server(options), "127.0.0.1", args.port,
                                      reuse_address=True,
                                      ssl=tls_context(args) if args.implicit_tls else None)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
