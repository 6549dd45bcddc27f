#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A loopback IMAP server that takes APPEND, for the sent-copy test.

Binds 127.0.0.1 (port 0 unless --port), prints the port on a line of its
own, then serves until killed. It takes LOGIN with --login USER:PASSWORD
only, and saves each appended message as NNNN.eml in --dir with NNNN.json
beside it ({"folder": ..., "login": ...}), both complete before they appear.
"""
import argparse
import asyncio
import json
import os
import re
import sys

LITERAL = re.compile(rb"\{(\d+)\+?\}$")


def unquote(word):
    if word.startswith(b'"') and word.endswith(b'"'):
        return word[1:-1].replace(b'\\"', b'"').replace(b"\\\\", b"\\")
    return word


def words(line):
    return re.findall(rb'"(?:[^"\\]|\\.)*"|\S+', line)


class Session:
    def __init__(self, args, counter):
        self.args = args
        self.counter = counter
        self.login = None

    async def run(self, reader, writer):
        writer.write(b"* OK loopback IMAP ready\r\n")
        await writer.drain()
        while True:
            line = await reader.readline()
            if not line:
                break
            line = line.rstrip(b"\r\n")
            parts = words(line)
            if len(parts) < 2:
                writer.write(b"* BAD what\r\n")
                continue
            tag, command = parts[0], parts[1].upper()
            if command == b"CAPABILITY":
                writer.write(b"* CAPABILITY IMAP4rev1\r\n" + tag + b" OK done\r\n")
            elif command == b"LOGIN":
                user, password = unquote(parts[2]), unquote(parts[3])
                if (user + b":" + password).decode() == self.args.login:
                    self.login = user.decode()
                    writer.write(tag + b" OK logged in\r\n")
                else:
                    writer.write(tag + b" NO [AUTHENTICATIONFAILED] wrong\r\n")
            elif command == b"APPEND":
                match = LITERAL.search(line)
                if self.login is None or match is None:
                    writer.write(tag + b" NO not now\r\n")
                else:
                    size = int(match.group(1))
                    if not line.endswith(b"+}"):
                        writer.write(b"+ go ahead\r\n")
                        await writer.drain()
                    data = await reader.readexactly(size)
                    await reader.readline()  # the CRLF that ends the command
                    self.counter[0] += 1
                    base = os.path.join(self.args.dir, "%04d" % self.counter[0])
                    with open(base + ".json.tmp", "w", encoding="utf-8") as f:
                        json.dump({"folder": unquote(parts[2]).decode(), "login": self.login}, f)
                    with open(base + ".eml.tmp", "wb") as f:
                        f.write(data)
                    os.rename(base + ".json.tmp", base + ".json")
                    os.rename(base + ".eml.tmp", base + ".eml")
                    writer.write(tag + b" OK [APPENDUID 1 %d] done\r\n" % self.counter[0])
            elif command == b"LOGOUT":
                writer.write(b"* BYE\r\n" + tag + b" OK bye\r\n")
                await writer.drain()
                break
            elif command == b"NOOP":
                writer.write(tag + b" OK\r\n")
            else:
                writer.write(tag + b" BAD unknown command\r\n")
            await writer.drain()
        writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--login", required=True)
    args = parser.parse_args()
    counter = [0]
    server = await asyncio.start_server(
        lambda r, w: Session(args, counter).run(r, w), "127.0.0.1", args.port,
        reuse_address=True)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
