# SPDX-License-Identifier: MIT
"""Requests built from typed arguments, and replies judged, without a Broker."""

import os
import shutil
import tempfile
import unittest

import mailbroker
from mailbroker import commands, status
from mailbroker.codec import decode_query


class Requests(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="mb-py-commands-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.file = os.path.join(self.dir, "a b.txt")
        with open(self.file, "w") as f:
            f.write("x")

    def test_send_mail_carries_each_argument_under_the_brokers_key(self):
        request, paths = commands.send_mail_request(
            to=["ann@example.org", "Bob"], cc="c@example.org;d@example.org", bcc=[],
            subject="Gr\u00fc\u00dfe", body="line\nline", attachments=[self.file], parent=77,
        )
        name, values = decode_query(request)
        self.assertEqual(name, "SendMail")
        self.assertEqual(values, {
            "to": "ann@example.org;Bob",
            "cc": "c@example.org;d@example.org",
            "subject": "Gr\u00fc\u00dfe",
            "message": "line\nline",
            "attachment": self.file,
            "silent": "1",
            "parent": "77",
        })
        self.assertEqual(paths, (self.file,))
        # Keys in byte order; '/' travels as itself, the blank escaped.
        self.assertTrue(
            request.startswith("SendMail?attachment=" + self.file.replace(" ", "%20") + "&cc="),
            request,
        )

    def test_send_mail_without_silent_opens_the_compose_window(self):
        request, _ = commands.send_mail_request(to="a@example.org", silent=False)
        self.assertEqual(request, "SendMail?to=a%40example.org")

    def test_relative_attachments_are_taken_from_the_current_folder(self):
        cwd = os.getcwd()
        os.chdir(self.dir)
        self.addCleanup(os.chdir, cwd)
        _, paths = commands.send_mail_request(attachments=["./a b.txt"])
        self.assertEqual(paths, (os.path.join(os.getcwd(), "a b.txt"),))
        _, paths = commands.send_mail_request(attachments=self.file)  # one path alone
        self.assertEqual(paths, (self.file,))

    def test_what_the_request_cannot_carry_is_refused(self):
        cases = [
            dict(subject="a\0b"),
            dict(body="\udc80"),
            dict(to=["a;b@example.org"]),
            dict(attachments=[""]),
            dict(attachments=[self.dir + "/x;y"]),
            dict(attachments=[b"/tmp/\xff"]),
            dict(parent=-1),
            dict(parent=1 << 32),
        ]
        for kwargs in cases:
            with self.subTest(**{k: repr(v) for k, v in kwargs.items()}):
                with self.assertRaises(mailbroker.RequestError):
                    commands.send_mail_request(**kwargs)
        with self.assertRaises(TypeError):
            commands.send_mail_request(to=[b"a@example.org"])
        with self.assertRaises(TypeError):
            commands.send_mail_request(parent=True)

    def test_a_missing_or_unreadable_attachment_is_named_before_sending(self):
        missing = os.path.join(self.dir, "gone.pdf")
        with self.assertRaises(mailbroker.AttachmentError) as caught:
            commands.send_mail_request(attachments=[self.file, missing])
        e = caught.exception
        self.assertEqual((e.path, e.status, e.from_broker), (missing, status.MAPI_E_NOT_FOUND, False))
        self.assertIsInstance(e, mailbroker.MapiError)
        for unreadable in (self.dir, "/proc/self/status"):
            with self.assertRaises(mailbroker.AttachmentError) as caught:
                commands.send_mail_request(attachments=[unreadable])
            self.assertEqual(caught.exception.status, status.MAPI_E_NO_ACCESS)
        # Unchecked, the paths go as given and the Broker judges them.
        request, paths = commands.send_mail_request(attachments=[missing], check_attachments=False)
        self.assertEqual(paths, (missing,))

    def test_get_addresses_offers_the_wells_given(self):
        self.assertEqual(
            commands.get_addresses_request(to="Ann", cc=[]),
            "OutlookGetAddrs?cc=&to=Ann",
        )
        self.assertEqual(
            decode_query(commands.get_addresses_request(show_address_book=True, caption="Pick"))[1],
            {"to": "", "ShowAddressBook": "1", "caption": "Pick"},
        )
        self.assertEqual(
            decode_query(commands.get_addresses_request(bcc=["x"], show_address_book=True, parent=5))[1],
            {"bcc": "x", "ShowAddressBook": "1", "parent": "5"},
        )
        with self.assertRaises(mailbroker.RequestError):
            commands.get_addresses_request(parent=0x80000000)

    def test_profile_name(self):
        self.assertEqual(commands.profile_name_request(), "AutoCompleteFileName?")
        self.assertEqual(
            commands.profile_name_request("Caf\u00e9"), "AutoCompleteFileName?displayName=Caf%c3%a9"
        )


class Replies(unittest.TestCase):
    def test_status_is_a_signed_decimal(self):
        self.assertEqual(commands.reply_status("X", {"error": "0"}), 0)
        self.assertEqual(commands.reply_status("X", {"error": "-2147221229"}), status.MAPI_E_USER_CANCEL)
        self.assertEqual(commands.reply_status("X", {"error": "263040"}), 0x40380)
        for bad in ({}, {"error": ""}, {"error": "0x5"}, {"error": "1 "}, {"error": "2147483648"}):
            with self.subTest(values=bad):
                with self.assertRaises(mailbroker.ProtocolError):
                    commands.reply_status("X", bad)
        with self.assertRaises(mailbroker.CommandNotSupported):
            commands.reply_status("X", {"error": "Not Supported"})

    def test_send_mail_outcomes(self):
        self.assertEqual(
            commands.send_mail_result({"error": "0", "result": "1"}, ("/a",)),
            mailbroker.SendResult(0, "S_OK", 1, ("/a",)),
        )
        warning = commands.send_mail_result({"error": "263040", "result": "1"})
        self.assertEqual(warning.status_name, "MAPI_W_ERRORS_RETURNED")
        with self.assertRaises(mailbroker.MapiError) as caught:
            commands.send_mail_result({"error": "0", "result": "0"})
        self.assertEqual(caught.exception.status, 0)
        self.assertIn("no message was composed (result=0, status S_OK (0x00000000))", str(caught.exception))
        with self.assertRaises(mailbroker.UserCancelled) as caught:
            commands.send_mail_result({"error": "-2147221229", "result": "0"})
        self.assertEqual(str(caught.exception), "SendMail failed: MAPI_E_USER_CANCEL (0x80040113)")
        with self.assertRaises(mailbroker.MapiError) as caught:
            commands.send_mail_result({"error": "-2147221231", "result": "0"})
        self.assertEqual(caught.exception.status_name, "MAPI_E_LOGON_FAILED")
        self.assertNotIsInstance(caught.exception, mailbroker.UserCancelled)

    def test_an_attachment_the_broker_could_not_read_is_named(self):
        d = tempfile.mkdtemp(prefix="mb-py-replies-")
        self.addCleanup(shutil.rmtree, d, True)
        good = os.path.join(d, "good")
        with open(good, "w") as f:
            f.write("x")
        gone = os.path.join(d, "gone")
        values = {"error": str(status.MAPI_E_NOT_FOUND), "result": "0"}
        with self.assertRaises(mailbroker.AttachmentError) as caught:
            commands.send_mail_result(values, (good, gone))
        e = caught.exception
        self.assertEqual((e.paths, e.from_broker), ((gone,), True))
        self.assertEqual(
            str(e), "SendMail failed: MAPI_E_NOT_FOUND (0x8004010F): attachment %s cannot be read" % gone
        )
        # Every file reads now: one of them changed while the Broker read it.
        with self.assertRaises(mailbroker.AttachmentError) as caught:
            commands.send_mail_result(values, (good, good))
        self.assertIsNone(caught.exception.path)
        # Without attachments the same status is just a failure.
        with self.assertRaises(mailbroker.MapiError) as caught:
            commands.send_mail_result(values, ())
        self.assertNotIsInstance(caught.exception, mailbroker.AttachmentError)

    def test_address_and_profile_results(self):
        self.assertEqual(
            commands.get_addresses_result({"error": "0", "to": "a@x.org;b@x.org", "bcc": ""}),
            mailbroker.AddressResult(0, "S_OK", ["a@x.org", "b@x.org"], [], []),
        )
        with self.assertRaises(mailbroker.MapiError) as caught:
            commands.get_addresses_result({"error": "-2147024809", "to": "a..b@x.org"})
        self.assertEqual(caught.exception.status_name, "MAPI_E_INVALID_PARAMETER")
        self.assertEqual(
            commands.profile_name_result({"error": "0", "displayName": "Home"}),
            mailbroker.ProfileResult(0, "S_OK", "Home"),
        )


class Status(unittest.TestCase):
    def test_names_as_the_client_prints_them(self):
        self.assertEqual(status.status_text(-2147024891), "MAPI_E_NO_ACCESS (0x80070005)")
        self.assertEqual(status.status_text(0x80041234), "0x80041234")
        self.assertEqual(status.status_name(0x80004005), "MAPI_E_CALL_FAILED")
        self.assertEqual(status.status_name(0x00040380), "MAPI_W_ERRORS_RETURNED")


if __name__ == "__main__":
    unittest.main()
