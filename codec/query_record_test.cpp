// SPDX-License-Identifier: MIT
#include "codec/query_record.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "foundation/ks_exception.h"
#include "foundation/ks_string_test_support.h"

namespace {

using ks_test::utf8Of;
using Entries = std::vector<std::pair<std::string, std::string>>;

QueryRecord decoded(const char* text) {
    QueryRecord r;
    r.decode(KsString(text));
    return r;
}

Entries entriesOf(const QueryRecord& r) {
    Entries out;
    for (const auto& [k, v] : r.params) {
        out.emplace_back(utf8Of(k), utf8Of(v));
    }
    return out;
}

std::string badEscapeOf(const char* text) {
    try {
        decoded(text);
    } catch (const KsException& e) {
        return utf8Of(e.getMessage());
    }
    return "no exception";
}

TEST(QueryRecordDecode, NameAndFields) {
    QueryRecord r = decoded("SendMail?subject=Hello%20World&silent=1");
    EXPECT_EQ(utf8Of(r.commandName()), "SendMail");
    EXPECT_EQ(entriesOf(r), (Entries{{"silent", "1"}, {"subject", "Hello World"}}));

    EXPECT_EQ(utf8Of(decoded("SendMail").name), "SendMail");
    EXPECT_TRUE(decoded("SendMail").params.empty());
    EXPECT_TRUE(decoded("SendMail?").params.empty());
    QueryRecord noName = decoded("?a=1");
    EXPECT_TRUE(noName.name.isEmpty());
    EXPECT_EQ(entriesOf(noName), (Entries{{"a", "1"}}));
    // The name is decoded too, and a name without '?' is the whole text.
    EXPECT_EQ(utf8Of(decoded("Send%4dail").name), "SendMail");
}

TEST(QueryRecordDecode, FieldShapes) {
    EXPECT_EQ(entriesOf(decoded("X?a")), (Entries{{"a", ""}}));
    EXPECT_TRUE(decoded("X?=1").params.empty());
    EXPECT_EQ(entriesOf(decoded("X?a=")), (Entries{{"a", ""}}));
    EXPECT_EQ(entriesOf(decoded("X?a=b=c")), (Entries{{"a", "b=c"}}));
    EXPECT_EQ(entriesOf(decoded("X?a=1&a=2")), (Entries{{"a", "2"}}));
    EXPECT_EQ(entriesOf(decoded("X?a=1&&b=2&")), (Entries{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(entriesOf(decoded("X?&a=1")), (Entries{{"a", "1"}}));
    // A key that decodes to nothing (it starts with "%00") is kept, empty.
    EXPECT_EQ(entriesOf(decoded("X?%00a=1")), (Entries{{"", "1"}}));
    // A second '?' belongs to the fields.
    EXPECT_EQ(entriesOf(decoded("X?q=?&r")), (Entries{{"q", "?"}, {"r", ""}}));
}

TEST(QueryRecordDecode, EscapesAndBytes) {
    EXPECT_EQ(entriesOf(decoded("X?k=a+b")), (Entries{{"k", "a+b"}}));
    EXPECT_EQ(entriesOf(decoded("X?k=%4a")), (Entries{{"k", "J"}}));
    EXPECT_EQ(entriesOf(decoded("X?k=%4A")), (Entries{{"k", "J"}}));
    EXPECT_EQ(entriesOf(decoded("X?k=a%00b")), (Entries{{"k", "a"}}));
    EXPECT_EQ(entriesOf(decoded("X?k=%C3%A9")), (Entries{{"k", "\xC3\xA9"}}));
    // A lone ANSI byte is taken as code page 1252 and arrives as UTF-8.
    EXPECT_EQ(entriesOf(decoded("X?k=%E9")), (Entries{{"k", "\xC3\xA9"}}));
    EXPECT_EQ(entriesOf(decoded("X?k=%80")), (Entries{{"k", "\xE2\x82\xAC"}}));
    // Raw UTF-8 and raw ANSI request text decode the same way.
    EXPECT_EQ(entriesOf(decoded("X?k=\xC3\xA9")), (Entries{{"k", "\xC3\xA9"}}));
    EXPECT_EQ(entriesOf(decoded("X?k=\xE9")), (Entries{{"k", "\xC3\xA9"}}));
    // The decoded key is UTF-8 too.
    EXPECT_EQ(entriesOf(decoded("X?%C3%A9=1")), (Entries{{"\xC3\xA9", "1"}}));
    // The text ends at its first NUL.
    QueryRecord r;
    r.decode(KsString("X?a=1\0&b=2", 10));
    EXPECT_EQ(entriesOf(r), (Entries{{"a", "1"}}));
}

TEST(QueryRecordDecode, MalformedEscapesRaiseWithTheirGroup) {
    EXPECT_EQ(badEscapeOf("X?k=%4"), "bad escape sequence: %4");
    EXPECT_EQ(badEscapeOf("X?k=%G1"), "bad escape sequence: %G1");
    EXPECT_EQ(badEscapeOf("X?k=%1G"), "bad escape sequence: %1G");
    EXPECT_EQ(badEscapeOf("X?k%4=1"), "bad escape sequence: %4=");
    EXPECT_EQ(badEscapeOf("X?k=%"), "bad escape sequence: %");
    EXPECT_EQ(badEscapeOf("%zz"), "bad escape sequence: %zz");
    // What was decoded before the fault stays in the record.
    QueryRecord r;
    EXPECT_THROW(r.decode(KsString("N?a=1&b=%x")), KsException);
    EXPECT_EQ(utf8Of(r.name), "N");
    EXPECT_EQ(entriesOf(r), (Entries{{"a", "1"}}));
}

TEST(QueryRecordDecode, GroupsReadAsTheScannerReadsThem) {
    // The scanner skips a blank and takes a sign before the hex digits.
    EXPECT_EQ(entriesOf(decoded("X?k=% 9")), (Entries{{"k", "\t"}}));
    EXPECT_EQ(entriesOf(decoded("X?k=%+9")), (Entries{{"k", "\t"}}));
    EXPECT_EQ(badEscapeOf("X?k=%-1"), "bad escape sequence: %-1");  // above 255 as unsigned
}

TEST(QueryRecordEncode, OrderAndEscapes) {
    QueryRecord reply;
    reply.escapeOnEncode = 1;
    reply.name = KsString("SendMailResponse");
    reply.params[KsString("error")] = KsString("0");
    EXPECT_EQ(utf8Of(reply.encode()), "SendMailResponse?error=0");

    QueryRecord ordered;
    ordered.escapeOnEncode = 1;
    ordered.name = KsString("R");
    ordered.params[KsString("b")] = KsString("1");
    ordered.params[KsString("a")] = KsString("2");
    ordered.params[KsString("B")] = KsString("3");
    EXPECT_EQ(utf8Of(ordered.encode()), "R?B=3&a=2&b=1");

    QueryRecord escaped;
    escaped.escapeOnEncode = 1;
    escaped.name = KsString("R");
    escaped.params[KsString("v")] = KsString("a b&c=d");
    escaped.params[KsString("w")] = KsString("\xC3\xA9+");
    escaped.params[KsString("x")] = KsString("\xE9");  // ANSI text goes out as its UTF-8
    EXPECT_EQ(utf8Of(escaped.encode()), "R?v=a%20b%26c%3dd&w=%c3%a9%2b&x=%c3%a9");

    QueryRecord plain;
    plain.name = KsString("R");
    plain.params[KsString("v")] = KsString("a b");
    EXPECT_EQ(utf8Of(plain.encode()), "R?v=a b");

    QueryRecord nameOnly;
    nameOnly.escapeOnEncode = 1;
    nameOnly.name = KsString("R");
    EXPECT_EQ(utf8Of(nameOnly.encode()), "R?");
    EXPECT_TRUE(QueryRecord().encode().isEmpty());

    QueryRecord noName;
    noName.escapeOnEncode = 1;
    noName.params[KsString("a")] = KsString("1");
    EXPECT_EQ(utf8Of(noName.encode()), "a=1");
    QueryRecord back = decoded("a=1");
    EXPECT_EQ(utf8Of(back.name), "a=1");
    EXPECT_TRUE(back.params.empty());
}

TEST(QueryRecordEncode, RoundTripsEveryByte) {
    QueryRecord r;
    r.escapeOnEncode = 1;
    r.name = KsString("Cmd ?&=");
    std::string all;
    for (int b = 1; b < 128; ++b) {
        all.push_back(static_cast<char>(b));
    }
    all += "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    r.params[KsString(all.c_str())] = KsString(all.c_str());
    r.params[KsString("empty")] = KsString("");
    QueryRecord back;
    back.decode(r.encode());
    EXPECT_TRUE(back.name.equals(r.name));
    EXPECT_EQ(entriesOf(back), entriesOf(r));
}

}  // namespace
