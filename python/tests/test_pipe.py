# SPDX-License-Identifier: MIT
"""Pipe naming, the pipe-folder check, the busy retry and message mode, against
sockets this test serves itself (the real Broker's part is test_broker.py)."""

import os
import shutil
import socket
import struct
import tempfile
import threading
import time
import unittest

import mailbroker
from mailbroker import codec
from mailbroker.connection import Connection
from mailbroker.pipe import MessagePipe, pipe_file_name, pipe_folder, pipe_socket_path, unsafe_pipe_folder


class PipeNames(unittest.TestCase):
    """The vectors of pal/pipe_test.cpp."""

    def test_plain_names_are_folded_to_lower_case(self):
        self.assertEqual(pipe_file_name("MailBroker.Pipe_1-x"), "mailbroker.pipe_1-x")
        self.assertEqual(pipe_file_name("A" * 64), "a" * 64)
        self.assertEqual(len(pipe_file_name("a" * 65)), 17)
        self.assertEqual(pipe_file_name("a"), "a")

    def test_other_names_are_hashed(self):
        self.assertEqual(pipe_file_name("A/../B"), "~bc47fcdb83d5e458")
        self.assertEqual(pipe_file_name(".."), "~07da1a07b4a03f2d")
        # Case folds before hashing, and only ASCII folds.
        self.assertEqual(pipe_file_name("a b"), pipe_file_name("A B"))
        self.assertNotEqual(pipe_file_name("\u00e9"), pipe_file_name("\u00c9"))
        self.assertEqual(pipe_file_name("\u00e9"), pipe_file_name(b"\xc3\xa9"))

    def test_a_full_pipe_path_names_the_same_pipe(self):
        self.assertEqual(pipe_file_name("\\\\.\\PIPE\\Foo"), "foo")

    def test_names_that_name_no_pipe_are_refused(self):
        for bad in ("", "\\\\.\\pipe\\", "x" * 248, "a\0b", "\udc80"):
            with self.subTest(name=bad[:12]):
                with self.assertRaises(mailbroker.InvalidPipeName):
                    pipe_file_name(bad)
        self.assertEqual(len(pipe_file_name("x" * 247)), 17)  # 256 bytes with the prefix
        with self.assertRaises(TypeError):
            pipe_file_name(5)  # type: ignore[arg-type]


class RuntimeDir(unittest.TestCase):
    """A private XDG_RUNTIME_DIR for each test."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="mb-py-pipe-")
        self.addCleanup(shutil.rmtree, self.root, True)
        saved = os.environ.get("XDG_RUNTIME_DIR")
        os.environ["XDG_RUNTIME_DIR"] = self.root
        self.addCleanup(
            lambda: os.environ.__setitem__("XDG_RUNTIME_DIR", saved)
            if saved is not None
            else os.environ.pop("XDG_RUNTIME_DIR", None)
        )


class PipeFolder(RuntimeDir):
    def test_the_folder_follows_the_runtime_dir(self):
        self.assertEqual(pipe_folder(), self.root + "/winpal/pipe")
        os.environ["XDG_RUNTIME_DIR"] = ""
        self.assertEqual(pipe_folder(), "/tmp/winpal-%d/pipe" % os.geteuid())

    def test_missing_folders_are_sound_and_made_private(self):
        self.assertIsNone(unsafe_pipe_folder())
        path = pipe_socket_path("x", create=True)
        self.assertEqual(path, self.root + "/winpal/pipe/x")
        self.assertEqual(os.stat(self.root + "/winpal").st_mode & 0o777, 0o700)
        self.assertEqual(os.stat(self.root + "/winpal/pipe").st_mode & 0o777, 0o700)
        self.assertIsNone(unsafe_pipe_folder())

    def test_a_folder_others_may_use_is_refused(self):
        pipe_socket_path("x", create=True)
        folder = self.root + "/winpal/pipe"
        for mode in (0o755, 0o770, 0o701, 0o702):
            os.chmod(folder, mode)
            self.assertEqual(
                unsafe_pipe_folder(),
                "the pipe folder %s is not safe (owner %d, mode %04o)" % (folder, os.geteuid(), mode),
            )
            with self.assertRaises(mailbroker.UnsafePipeFolder):
                pipe_socket_path("x")
            with self.assertRaises(mailbroker.UnsafePipeFolder):
                MessagePipe.connect("x", timeout=0)
        os.chmod(folder, 0o700)
        self.assertIsNone(unsafe_pipe_folder())

    @unittest.skipUnless(os.geteuid() == 0, "giving a folder away takes root")
    def test_a_folder_of_another_user_is_refused(self):
        pipe_socket_path("x", create=True)
        base = self.root + "/winpal"
        os.chown(base, 65534, -1)
        self.assertEqual(
            unsafe_pipe_folder(), "the pipe folder %s is not safe (owner 65534, mode 0700)" % base
        )
        with self.assertRaises(mailbroker.UnsafePipeFolder):
            Connection.open("x", timeout=0)

    def test_something_else_in_its_place_is_refused(self):
        os.mkdir(self.root + "/winpal", 0o700)
        os.symlink(self.root, self.root + "/winpal/pipe")
        problem = unsafe_pipe_folder()
        self.assertIsNotNone(problem)
        self.assertTrue(problem.endswith(": it is not a directory"), problem)

    def test_a_socket_path_too_long_for_an_address_is_refused(self):
        os.environ["XDG_RUNTIME_DIR"] = self.root + "/" + "d" * 60
        os.mkdir(os.environ["XDG_RUNTIME_DIR"], 0o700)
        with self.assertRaises(mailbroker.InvalidPipeName):
            pipe_socket_path("n" * 64, create=True)


class Listener:
    """A listening socket where a Broker's would be, with a tiny queue."""

    def __init__(self, name: str, backlog: int = 0) -> None:
        self.path = pipe_socket_path(name, create=True)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.bind(self.path)
        self.sock.listen(backlog)

    def close(self) -> None:
        self.sock.close()
        os.unlink(self.path)


class BusyRetry(RuntimeDir):
    def test_no_pipe_is_not_found_after_the_time_allowed(self):
        started = time.monotonic()
        with self.assertRaises(mailbroker.PipeNotFound) as caught:
            MessagePipe.connect("nobody-here", timeout=0.2)
        self.assertGreaterEqual(time.monotonic() - started, 0.2)
        self.assertEqual(str(caught.exception), "no pipe \\\\.\\pipe\\nobody-here")
        self.assertIsInstance(caught.exception, ConnectionError)

    def test_a_full_queue_is_busy_and_retried_until_an_instance_is_free(self):
        listener = Listener("busy")
        self.addCleanup(listener.close)
        # Fill the queue: Linux queues one more than the backlog.
        queued = []
        while True:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.setblocking(False)
            try:
                s.connect(listener.path)
            except BlockingIOError:
                s.close()
                break
            queued.append(s)
            self.assertLess(len(queued), 64, "the queue never filled")
        self.addCleanup(lambda: [s.close() for s in queued])
        with self.assertRaises(mailbroker.PipeBusy):
            MessagePipe.connect("busy", timeout=0.2)
        # An instance takes the waiting clients in; the retry then gets in.
        def serve():
            time.sleep(0.3)
            for _ in range(len(queued) + 1):
                conn, _ = listener.sock.accept()
                conn.close()
        server = threading.Thread(target=serve)
        server.start()
        self.addCleanup(server.join)
        pipe = MessagePipe.connect("busy", timeout=10)
        pipe.close()

    def test_a_socket_refusing_its_owner_is_access_denied(self):
        listener = Listener("denied", backlog=4)
        self.addCleanup(listener.close)
        os.chmod(listener.path, 0o500)
        with self.assertRaises(mailbroker.PipeAccessDenied):
            MessagePipe.connect("denied", timeout=1)


class FakeBroker(RuntimeDir):
    """Connection against a server thread that answers with what a test gives."""

    def serve(self, answer):
        """answer(conn, request_words, payload) writes the reply bytes."""
        listener = Listener("fake", backlog=4)
        self.addCleanup(listener.close)
        seen = {}

        def run():
            conn, _ = listener.sock.accept()
            with conn:
                stream = conn.makefile("rb")
                words = []
                try:
                    for _ in range(5):
                        length = struct.unpack("<I", stream.read(4))[0]
                        words.append(struct.unpack("<I", stream.read(length))[0])
                    length = struct.unpack("<I", stream.read(4))[0]
                    payload = stream.read(length)
                except struct.error:
                    return  # the client left without a whole request
                seen["words"], seen["payload"] = words, payload
                answer(conn, words, payload)
                # Held open until the client goes.
                try:
                    conn.recv(1)
                except OSError:
                    pass

        thread = threading.Thread(target=run, daemon=True)
        thread.start()
        connection = Connection.open("fake", timeout=5)
        self.addCleanup(connection.close)
        return connection, seen

    @staticmethod
    def message(data: bytes) -> bytes:
        return struct.pack("<I", len(data)) + data

    def reply(self, words, text: bytes, message_id=None, magic=codec.FRAME_MAGIC):
        header = [magic, codec.FRAME_VERSION, 1234, words[3] if message_id is None else message_id, len(text)]
        return b"".join(self.message(struct.pack("<I", w)) for w in header) + self.message(text)

    def test_a_request_travels_as_five_words_and_a_payload_and_its_reply_is_read(self):
        connection, seen = self.serve(
            lambda conn, words, payload: conn.sendall(
                self.reply(words, b"SendMailResponse?displayName=Caf%c3%a9&error=0")
            )
        )
        result = connection.profile_name("Fallback")
        self.assertEqual(seen["payload"], b"AutoCompleteFileName?displayName=Fallback")
        self.assertEqual(seen["words"][:2], [codec.FRAME_MAGIC, codec.FRAME_VERSION])
        self.assertEqual(seen["words"][2], os.getpid())
        self.assertEqual(seen["words"][3], 1)
        self.assertEqual(seen["words"][4], len(seen["payload"]))
        self.assertEqual(result, mailbroker.ProfileResult(0, "S_OK", "Caf\u00e9"))

    def test_a_reply_split_into_small_writes_is_joined(self):
        def trickle(conn, words, payload):
            for byte in self.reply(words, b"R?error=0&displayName=x"):
                conn.sendall(bytes([byte]))
        connection, _ = self.serve(trickle)
        self.assertEqual(connection.profile_name().display_name, "x")

    def test_a_bad_magic_is_a_protocol_error_and_closes(self):
        connection, _ = self.serve(
            lambda conn, words, payload: conn.sendall(self.reply(words, b"R?error=0", magic=1))
        )
        with self.assertRaises(mailbroker.ProtocolError):
            connection.profile_name()
        self.assertFalse(connection.is_open)

    def test_another_message_id_is_a_protocol_error(self):
        connection, _ = self.serve(
            lambda conn, words, payload: conn.sendall(self.reply(words, b"R?error=0", message_id=7))
        )
        with self.assertRaises(mailbroker.ProtocolError) as caught:
            connection.profile_name()
        self.assertIn("message id 7", str(caught.exception))

    def test_a_header_word_of_another_size_is_a_protocol_error(self):
        connection, _ = self.serve(lambda conn, words, payload: conn.sendall(self.message(b"12345")))
        with self.assertRaises(mailbroker.ProtocolError):
            connection.profile_name()

    def test_an_undecodable_reply_is_a_protocol_error(self):
        connection, _ = self.serve(
            lambda conn, words, payload: conn.sendall(self.reply(words, b"R?error=%zz"))
        )
        with self.assertRaises(mailbroker.ProtocolError) as caught:
            connection.profile_name()
        self.assertIn("bad escape sequence: %zz", str(caught.exception))

    def test_a_broker_that_closes_is_disconnected(self):
        connection, _ = self.serve(lambda conn, words, payload: conn.shutdown(socket.SHUT_RDWR))
        with self.assertRaises(mailbroker.BrokerDisconnected):
            connection.profile_name()
        self.assertFalse(connection.is_open)
        with self.assertRaises(mailbroker.BrokerDisconnected):
            connection.profile_name()

    def test_no_reply_within_the_time_allowed_closes_the_connection(self):
        connection, _ = self.serve(lambda conn, words, payload: None)
        with self.assertRaises(mailbroker.ReplyTimeout) as caught:
            connection.profile_name(timeout=0.2)
        self.assertIsInstance(caught.exception, TimeoutError)
        self.assertFalse(connection.is_open)

    def test_not_supported_is_its_own_error(self):
        connection, _ = self.serve(
            lambda conn, words, payload: conn.sendall(self.reply(words, b"R?error=Not%20Supported"))
        )
        with self.assertRaises(mailbroker.CommandNotSupported):
            connection.profile_name()

    def test_a_request_over_the_limit_is_refused_unsent(self):
        connection, seen = self.serve(lambda conn, words, payload: None)
        with self.assertRaises(mailbroker.RequestError):
            connection.request(b"x" * (codec.REQUEST_MAX_LENGTH + 1))
        self.assertTrue(connection.is_open)
        self.assertEqual(seen, {})


if __name__ == "__main__":
    unittest.main()
