# SPDX-License-Identifier: MIT
"""The frame and the percent codec against the vectors the C++ codec's own
tests hold (codec/frame_test.cpp, codec/query_record_test.cpp)."""

import unittest

from mailbroker import codec
from mailbroker.codec import (
    BadEscape,
    FrameError,
    FrameHeader,
    decode_frame_header,
    decode_query,
    encode_frame_header,
    encode_query,
    percent_decode,
    percent_encode,
)


def sample() -> FrameHeader:
    return FrameHeader(process_id=0x11223344, message_id=0x55667788, length=0x0A0B0C0D)


class Frame(unittest.TestCase):
    def test_constants_are_the_wire_values(self):
        self.assertEqual(codec.FRAME_MAGIC, 0xFFFE00FF)
        self.assertEqual(codec.FRAME_VERSION, 0x00010000)
        self.assertEqual(codec.FRAME_MAX_LENGTH, 0x7FFFFFFF)
        self.assertEqual(codec.REQUEST_MAX_LENGTH, 64 * 1024 * 1024)
        self.assertEqual(codec.FRAME_HEADER_BYTES, 20)

    def test_word_is_little_endian(self):
        self.assertEqual(codec.encode_frame_word(0x04030201), bytes([1, 2, 3, 4]))
        self.assertEqual(codec.encode_frame_word(0xFFFE00FF), bytes([0xFF, 0x00, 0xFE, 0xFF]))
        self.assertEqual(codec.decode_frame_word(bytes([0x78, 0x56, 0x34, 0x12])), 0x12345678)
        self.assertEqual(codec.decode_frame_word(bytes([0, 0, 0, 0x80])), 0x80000000)

    def test_encoded_header_has_each_field_in_its_place_and_order(self):
        expected = bytes(
            [0xFF, 0x00, 0xFE, 0xFF,  # magic
             0x00, 0x00, 0x01, 0x00,  # version
             0x44, 0x33, 0x22, 0x11,  # process id
             0x88, 0x77, 0x66, 0x55,  # message id
             0x0D, 0x0C, 0x0B, 0x0A]  # length
        )
        self.assertEqual(encode_frame_header(sample()), expected)
        self.assertEqual(
            sample().words(), (0xFFFE00FF, 0x00010000, 0x11223344, 0x55667788, 0x0A0B0C0D)
        )

    def test_round_trip_keeps_every_field(self):
        for length in (0, 1, 46, 0x7FFFFFFE, 0x7FFFFFFF):
            header = FrameHeader(7, 9, length)
            back, error = decode_frame_header(encode_frame_header(header))
            self.assertEqual(error, FrameError.NONE)
            self.assertEqual(back, header)

    def test_decoding_reads_only_the_first_twenty_bytes(self):
        header, error = decode_frame_header(encode_frame_header(sample()) + b"Abc")
        self.assertEqual(error, FrameError.NONE)
        self.assertEqual(header.length, 0x0A0B0C0D)

    def test_short_input_is_truncated_and_keeps_whole_words_only(self):
        data = encode_frame_header(sample())
        for size in range(len(data)):
            self.assertEqual(decode_frame_header(data[:size])[1], FrameError.TRUNCATED)
        partial, _ = decode_frame_header(data[:11])
        self.assertEqual(partial.magic, 0xFFFE00FF)
        self.assertEqual(partial.version, 0x00010000)
        self.assertEqual(partial.process_id, 0)  # cut short: not half-read

    def test_magic_then_version_then_length_are_judged(self):
        for magic in (0, 0xFFFE00FE, 0xFF00FEFF, 0xDEADBEEF):
            bad = FrameHeader(1, 2, 0xFFFFFFFF, magic=magic, version=0)
            self.assertEqual(decode_frame_header(encode_frame_header(bad))[1], FrameError.BAD_MAGIC)
        for version in (0, 0x00020000, 0x00000100, 0x00010001):
            bad = FrameHeader(1, 2, 0xFFFFFFFF, version=version)
            self.assertEqual(
                decode_frame_header(encode_frame_header(bad))[1], FrameError.BAD_VERSION
            )
        for length in (0x80000000, 0x80000001, 0xFFFFFFFF):
            bad = FrameHeader(1, 2, length)
            self.assertEqual(
                decode_frame_header(encode_frame_header(bad))[1], FrameError.LENGTH_OVER_LIMIT
            )

    def test_every_error_has_its_own_description(self):
        texts = [e.value for e in FrameError]
        self.assertEqual(len(set(texts)), len(texts))


class PercentEncode(unittest.TestCase):
    def test_unreserved_bytes_stay_and_all_others_are_escaped_lower_case(self):
        unreserved = (
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!'()*,-./:_~"
        )
        self.assertEqual(percent_encode(unreserved), unreserved)
        for byte in range(256):
            encoded = percent_encode(bytes([byte]))
            if chr(byte) in unreserved:
                self.assertEqual(encoded, chr(byte))
            else:
                self.assertEqual(encoded, "%%%02x" % byte)
        self.assertEqual(percent_encode("a b+c"), "a%20b%2bc")
        self.assertEqual(percent_encode("\u00e9\u20ac"), "%c3%a9%e2%82%ac")

    def test_lone_surrogates_are_no_utf8(self):
        with self.assertRaises(UnicodeEncodeError):
            percent_encode("\ud800")


class QueryDecode(unittest.TestCase):
    def test_name_and_fields(self):
        self.assertEqual(
            decode_query("SendMail?subject=Hello%20World&silent=1"),
            ("SendMail", {"subject": "Hello World", "silent": "1"}),
        )
        self.assertEqual(decode_query("SendMail"), ("SendMail", {}))
        self.assertEqual(decode_query("SendMail?"), ("SendMail", {}))
        self.assertEqual(decode_query("?a=1"), ("", {"a": "1"}))
        self.assertEqual(decode_query("Send%4dail")[0], "SendMail")

    def test_field_shapes(self):
        self.assertEqual(decode_query("X?a")[1], {"a": ""})
        self.assertEqual(decode_query("X?=1")[1], {})
        self.assertEqual(decode_query("X?a=")[1], {"a": ""})
        self.assertEqual(decode_query("X?a=b=c")[1], {"a": "b=c"})
        self.assertEqual(decode_query("X?a=1&a=2")[1], {"a": "2"})
        self.assertEqual(decode_query("X?a=1&&b=2&")[1], {"a": "1", "b": "2"})
        self.assertEqual(decode_query("X?&a=1")[1], {"a": "1"})
        self.assertEqual(decode_query("X?%00a=1")[1], {"": "1"})
        self.assertEqual(decode_query("X?q=?&r")[1], {"q": "?", "r": ""})

    def test_escapes_and_bytes(self):
        self.assertEqual(decode_query("X?k=a+b")[1], {"k": "a+b"})
        self.assertEqual(decode_query("X?k=%4a")[1], {"k": "J"})
        self.assertEqual(decode_query("X?k=%4A")[1], {"k": "J"})
        self.assertEqual(decode_query("X?k=a%00b")[1], {"k": "a"})
        self.assertEqual(decode_query("X?k=%C3%A9")[1], {"k": "\u00e9"})
        # A lone ANSI byte is taken as code page 1252.
        self.assertEqual(decode_query("X?k=%E9")[1], {"k": "\u00e9"})
        self.assertEqual(decode_query("X?k=%80")[1], {"k": "\u20ac"})
        # The five bytes 1252 leaves open map to the C1 controls, as on Windows.
        self.assertEqual(decode_query("X?k=%81%8d")[1], {"k": "\x81\x8d"})
        self.assertEqual(decode_query(b"X?k=\xc3\xa9")[1], {"k": "\u00e9"})
        self.assertEqual(decode_query(b"X?k=\xe9")[1], {"k": "\u00e9"})
        self.assertEqual(decode_query("X?%C3%A9=1")[1], {"\u00e9": "1"})
        self.assertEqual(decode_query(b"X?a=1\0&b=2")[1], {"a": "1"})

    def test_malformed_escapes_raise_with_their_group(self):
        cases = {
            "X?k=%4": "%4",
            "X?k=%G1": "%G1",
            "X?k=%1G": "%1G",
            "X?k%4=1": "%4=",  # the group reaches past its part, as in the Broker
            "X?k=%": "%",
            "%zz": "%zz",
            "X?k=%-1": "%-1",  # above 255 as unsigned
        }
        for text, group in cases.items():
            with self.subTest(text=text):
                with self.assertRaises(BadEscape) as caught:
                    decode_query(text)
                self.assertEqual(str(caught.exception), "bad escape sequence: " + group)

    def test_groups_read_as_the_scanner_reads_them(self):
        self.assertEqual(decode_query("X?k=% 9")[1], {"k": "\t"})
        self.assertEqual(decode_query("X?k=%+9")[1], {"k": "\t"})
        self.assertEqual(decode_query("X?k=%\t9")[1], {"k": "\t"})
        # "-0" is 0, which ends the value as a NUL does.
        self.assertEqual(decode_query("X?k=a%-0b")[1], {"k": "a"})

    def test_decode_of_a_range(self):
        self.assertEqual(percent_decode("ab%41cd", 1, 6), b"bAc")
        self.assertEqual(percent_decode("ab%41cd", 2, 3), b"A")  # the group reaches past the end


class QueryEncode(unittest.TestCase):
    def test_order_and_escapes(self):
        self.assertEqual(encode_query("SendMailResponse", {"error": "0"}), "SendMailResponse?error=0")
        self.assertEqual(encode_query("R", {"b": "1", "a": "2", "B": "3"}), "R?B=3&a=2&b=1")
        self.assertEqual(
            encode_query("R", {"v": "a b&c=d", "w": "\u00e9+", "x": "\u00e9"}),
            "R?v=a%20b%26c%3dd&w=%c3%a9%2b&x=%c3%a9",
        )
        self.assertEqual(encode_query("R", {}), "R?")
        self.assertEqual(encode_query("", {}), "")
        self.assertEqual(encode_query("", {"a": "1"}), "a=1")
        self.assertEqual(decode_query("a=1"), ("a=1", {}))

    def test_round_trips_every_byte(self):
        text = "".join(chr(b) for b in range(1, 128)) + "\u00e9\u20ac\U0001F600"
        name = "Cmd ?&="
        encoded = encode_query(name, {text: text, "empty": ""})
        self.assertEqual(decode_query(encoded), (name, {text: text, "empty": ""}))


if __name__ == "__main__":
    unittest.main()
