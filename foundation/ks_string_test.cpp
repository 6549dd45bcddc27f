// SPDX-License-Identifier: MIT
#include "foundation/ks_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/ks_exception.h"
#include "foundation/ks_string_test_support.h"

namespace {

using Enc = KsString::Encoding;
using ks_test::messageOf;
using ks_test::utf8Of;

std::u16string wideOf(KsString s) {
    const WCHAR* w = s.wideView();
    return std::u16string(reinterpret_cast<const char16_t*>(w), s.unitCount());  // w first
}

TEST(KsStringClassify, NarrowTextIsAnsiUnlessWellFormedUtf8WithHighBytes) {
    EXPECT_EQ(KsString("caf\xE9").encoding(), Enc::Ansi);
    EXPECT_EQ(KsString("caf\xC3\xA9").encoding(), Enc::Utf8);
    EXPECT_EQ(KsString("abc").encoding(), Enc::Ansi);
    EXPECT_EQ(KsString("").encoding(), Enc::Ansi);
    EXPECT_EQ(KsString(static_cast<const char*>(nullptr)).encoding(), Enc::None);
    EXPECT_EQ(KsString().encoding(), Enc::None);
    // Overlong forms, encoded surrogates and 5/6-byte forms pass the lead/continuation rules.
    EXPECT_EQ(KsString("\xC0\x80x").encoding(), Enc::Utf8);
    EXPECT_EQ(KsString("\xED\xA0\x80").encoding(), Enc::Utf8);
    EXPECT_EQ(KsString("\xFC\x80\x80\x80\x80\x80").encoding(), Enc::Utf8);
    // Malformed: stray continuation, FE/FF, a sequence cut by another byte or by the end.
    EXPECT_EQ(KsString("\x80").encoding(), Enc::Ansi);
    EXPECT_EQ(KsString("\xFE").encoding(), Enc::Ansi);
    EXPECT_EQ(KsString("\xE2\x82z").encoding(), Enc::Ansi);
    EXPECT_EQ(KsString("\xE2\x82").encoding(), Enc::Ansi);
    // The scan stops at the first NUL: a sequence cut by a NUL is open, bytes after it don't count.
    EXPECT_EQ(KsString("\xC3\0\xA9", 3).encoding(), Enc::Ansi);
    EXPECT_EQ(KsString("ab\0\xE9", 4).encoding(), Enc::Ansi);
    EXPECT_EQ(KsString("ab\0\xE9", 4).unitCount(), 4u);
    // Long ASCII runs take the word-at-a-time path; the high byte after them still counts.
    EXPECT_EQ(KsString("0123456789abcdef0123\xC3\xA9").encoding(), Enc::Utf8);
}

TEST(KsStringViews, ConvertOnDemandAndTrackUnitCount) {
    KsString e("\xC3\xA9");  // U+00E9 in UTF-8
    EXPECT_EQ(e.unitCount(), 2u);
    EXPECT_EQ(e.length(), 1u);
    EXPECT_EQ(e.unitCount(), 1u);
    EXPECT_EQ(e.encoding(), Enc::Utf16);

    KsString abc("abc");
    const char* before = static_cast<const char*>(abc.rawData());
    EXPECT_EQ(abc.utf8View(), before);  // well-formed ANSI only changes its tag
    EXPECT_EQ(abc.encoding(), Enc::Utf8);

    KsString ansi("caf\xE9");
    EXPECT_STREQ(ansi.utf8View(), "caf\xC3\xA9");
    EXPECT_EQ(ansi.unitCount(), 5u);
    EXPECT_STREQ(ansi.ansiView(), "caf\xE9");
    EXPECT_EQ(ansi.unitCount(), 4u);

    // Characters with no ANSI form become the default character.
    KsString cjk(WLIT("a\x4E2D"));
    EXPECT_STREQ(cjk.ansiView(), "a?");

    // A view of a string without storage only takes the tag.
    KsString none;
    EXPECT_STREQ(none.ansiView(), "");
    EXPECT_EQ(none.encoding(), Enc::Ansi);
    EXPECT_EQ(none.wideView()[0], 0);
    EXPECT_EQ(none.encoding(), Enc::Utf16);

    // Conversion stops at the first NUL; the narrow storage is released after going wide.
    KsString cut("ab\0cd", 5);
    EXPECT_EQ(cut.length(), 2u);
    EXPECT_EQ(cut.byteSize(), 4u);
}

TEST(KsStringViews, Utf8FromNarrowEqualsConstructionThenView) {
    for (const char* text : {"abc", "caf\xC3\xA9", "caf\xE9", "\xC3", "", "\x80\x81"}) {
        KsString expected(text);
        const char* bytes = expected.utf8View();
        KsString shortcut = KsString::utf8FromNarrow(text, std::strlen(text));
        EXPECT_EQ(shortcut.encoding(), Enc::Utf8) << text;
        EXPECT_EQ(std::string(static_cast<const char*>(shortcut.rawData()), shortcut.unitCount()),
                  std::string(bytes, expected.unitCount()))
            << text;
    }
}

TEST(KsStringViews, ConstructionFromUtf16AndCopies) {
    KsString w(WLIT("h\x00E9llo"), 3);
    EXPECT_EQ(w.encoding(), Enc::Utf16);
    EXPECT_EQ(utf8Of(w), "h\xC3\xA9l");
    EXPECT_EQ(KsString(static_cast<const WCHAR*>(nullptr)).encoding(), Enc::None);

    KsString a("x\xC3\xA9");
    KsString b(a);
    EXPECT_EQ(b.encoding(), Enc::Utf8);
    EXPECT_NE(a.rawData(), b.rawData());
    b.assign(b);
    EXPECT_TRUE(b.equals(a));
    KsString moved(std::move(b));
    EXPECT_TRUE(moved.equals(a));
    EXPECT_EQ(b.encoding(), Enc::None);  // NOLINT: a moved-from string is empty
}

TEST(KsStringAppend, FollowsTheEncodingRules) {
    KsString cafe("caf");
    cafe.append(KsString("\xC3\xA9"));
    EXPECT_EQ(cafe.encoding(), Enc::Utf8);
    EXPECT_STREQ(cafe.utf8View(), "caf\xC3\xA9");

    KsString ansiHigh("caf\xE9");  // ANSI with a high byte joins UTF-8 as its conversion
    ansiHigh.append(KsString("\xC3\xA9"));
    EXPECT_EQ(ansiHigh.encoding(), Enc::Utf8);
    EXPECT_STREQ(ansiHigh.utf8View(), "caf\xC3\xA9\xC3\xA9");

    KsString wide(WLIT("w"));
    wide.append(KsString("x"));
    EXPECT_EQ(wide.encoding(), Enc::Utf16);
    EXPECT_EQ(wideOf(wide), u"wx");

    KsString narrow("n");
    narrow.append(KsString(WLIT("\x00E9")));
    EXPECT_EQ(narrow.encoding(), Enc::Utf16);
    EXPECT_EQ(wideOf(narrow), u"n\u00E9");

    KsString empty;
    empty.append(KsString("\xC3\xA9"));
    EXPECT_EQ(empty.encoding(), Enc::Utf8);
    KsString same("ab");
    same.append(KsString());
    EXPECT_EQ(same.encoding(), Enc::Ansi);
    same.append(same);
    EXPECT_STREQ(same.ansiView(), "abab");

    KsString chars("a");
    chars.appendChar(0x1000E9);  // only the low 16 bits count
    EXPECT_EQ(wideOf(chars), u"a\u00E9");
    EXPECT_TRUE(KsString::concat(KsString("a"), KsString("b")).equals(KsString("ab")));
}

TEST(KsStringAppend, GrowthKeepsContentAcrossManySteps) {
    KsString s;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        const char c = static_cast<char>('a' + i % 26);
        s.append(KsString(&c, 1));
        expected.push_back(c);
    }
    EXPECT_EQ(utf8Of(s), expected);
    KsString w(WLIT(""));
    for (int i = 0; i < 3000; ++i) {
        w.appendChar(static_cast<uint32_t>(0x400 + i % 64));
    }
    EXPECT_EQ(w.unitCount(), 3000u);
    EXPECT_EQ(w.charAt(2999), static_cast<WCHAR>(0x400 + 2999 % 64));
}

TEST(KsStringCompare, OrdersBytesAndValidatesPositions) {
    EXPECT_EQ(KsString("").compare(KsString(""), 0, 0), 0);
    EXPECT_LT(KsString("").compare(KsString("x"), 0, 0), 0);
    EXPECT_GT(KsString("x").compare(KsString(""), 0, 0), 0);
    EXPECT_LT(KsString("abc").compare(KsString("abd"), 3, 0), 0);
    try {
        KsString("abc").compare(KsString("abd"), 4, 0);
        FAIL() << "no exception";
    } catch (const KsException& e) {
        EXPECT_EQ(messageOf(e), "Invalid start position");
    }
    EXPECT_LT(KsString("A").compare(KsString("a"), 0, 0), 0);
    EXPECT_LT(KsString("ab").compare(KsString("abc"), 0, 0), 0);
    EXPECT_GT(KsString("abc").compare(KsString("ab"), 0, 0), 0);
    EXPECT_EQ(KsString("abcdef").compare(KsString("abc"), 0, 3), 0);
    EXPECT_EQ(KsString("xxabc").compare(KsString("abc"), 2, 3), 0);
    EXPECT_EQ(KsString("abc").compare(KsString(WLIT("abc")), 0, 0), 0);
    EXPECT_EQ(KsString(WLIT("abc")).compare(KsString("abc"), 0, 0), 0);
    // ANSI against UTF-8 compares the converted text, and the other string is untouched.
    KsString utf8("caf\xC3\xA9");
    KsString ansi("caf\xE9");
    EXPECT_EQ(utf8.compare(ansi, 0, 0), 0);
    EXPECT_EQ(ansi.compare(utf8, 0, 0), 0);
    EXPECT_EQ(ansi.encoding(), Enc::Ansi);
    EXPECT_EQ(utf8.encoding(), Enc::Utf8);
    // UTF-16 units compare through their little-endian bytes, low byte first.
    EXPECT_LT(KsString(WLIT("\x0100")).compare(KsString(WLIT("\x00FF")), 0, 0), 0);
    // Embedded text past the other string's end never reads outside its storage.
    EXPECT_GT(KsString("ab\0cd", 5).compare(KsString("ab"), 0, 0), 0);
    EXPECT_EQ(KsString("ab\0\0", 4).compare(KsString("ab"), 0, 0), 0);
    EXPECT_TRUE(KsString("B").compare(KsString("a"), 0, 0) < 0);  // case-sensitive byte order
}

TEST(KsStringSearch, FindSubstringAndCharAt) {
    KsString eq("a=b");
    EXPECT_EQ(eq.find(KsString("="), 0), 1u);
    EXPECT_EQ(eq.find(KsString("="), 3), KsString::npos);
    EXPECT_EQ(eq.find(KsString("="), 2), KsString::npos);
    EXPECT_EQ(eq.find(KsString(""), 2), 2u);
    EXPECT_EQ(eq.encoding(), Enc::Ansi);

    // Different encodings search UTF-16 units, and a substring cuts at those positions.
    KsString mixed("\xC3\xA9t\xC3\xA9=x");
    const uint64_t at = mixed.find(KsString("="), 0);
    EXPECT_EQ(at, 3u);
    EXPECT_EQ(mixed.encoding(), Enc::Utf16);
    EXPECT_EQ(wideOf(mixed.substring(0, at)), u"\u00E9t\u00E9");
    EXPECT_EQ(mixed.find(KsString("x"), 99), KsString::npos);

    KsString hello("hello");
    EXPECT_STREQ(hello.substring(1, 3).ansiView(), "ell");
    EXPECT_STREQ(hello.substring(2, KsString::npos).ansiView(), "llo");
    EXPECT_TRUE(hello.substring(9, KsString::npos).isEmpty());
    EXPECT_STREQ(hello.substring(3, 100).ansiView(), "lo");
    EXPECT_EQ(hello.substring(1, 2).encoding(), Enc::Ansi);

    EXPECT_EQ(hello.findChar('l', 0), 2u);
    EXPECT_EQ(hello.findChar('l', 4), KsString::npos);
    EXPECT_EQ(KsString().findChar('x', 0), KsString::npos);
    EXPECT_EQ(hello.charAt(4), 'o');
    try {
        hello.charAt(hello.length());
        FAIL() << "no exception";
    } catch (const KsException& e) {
        EXPECT_EQ(messageOf(e), "index out of bounds");
    }
}

TEST(KsStringSearch, FurtherSearches) {
    KsString path("a/b.c/d.txt");
    EXPECT_EQ(path.findFirstOf(KsString("./"), 0), 1u);
    EXPECT_EQ(path.findFirstOf(KsString("."), 4), 7u);
    EXPECT_EQ(path.rfind(KsString("."), KsString::npos), 7u);
    EXPECT_EQ(path.rfind(KsString("."), 6), 3u);
    EXPECT_EQ(path.rfind(KsString("zz"), KsString::npos), KsString::npos);
    EXPECT_EQ(path.rfindChar('/', KsString::npos), 5u);
    EXPECT_EQ(path.rfindChar('/', 4), 1u);
    EXPECT_EQ(path.rfindChar('#', 99), KsString::npos);
    EXPECT_TRUE(path.endsWith(KsString(".txt")));
    EXPECT_FALSE(path.endsWith(KsString("")));
    EXPECT_FALSE(KsString("t").endsWith(KsString("txt")));
    EXPECT_TRUE(path.endsWithChar('t'));
    EXPECT_FALSE(KsString().endsWithChar('t'));
}

TEST(KsStringEdit, FurtherOperations) {
    KsString s("a-b-c");
    EXPECT_EQ(s.replaceChar('-', '+'), 2u);
    EXPECT_EQ(wideOf(s), u"a+b+c");
    s.setCharAt(0, 'A');
    EXPECT_EQ(wideOf(s), u"A+b+c");
    EXPECT_THROW(s.setCharAt(5, 'x'), KsException);

    KsString t("abcdef");
    t.truncate(3);
    EXPECT_EQ(t.unitCount(), 3u);
    EXPECT_STREQ(t.ansiView(), "abc");
    t.truncate(10);
    EXPECT_EQ(t.unitCount(), 3u);

    // As _wcslwr_s in the "C" locale: A-Z only, on every platform.
    KsString upper("\xC3\x89T\xC3\x89 ABC");
    EXPECT_EQ(wideOf(upper.toLower()), u"\u00C9t\u00C9 abc");
    EXPECT_EQ(upper.encoding(), Enc::Utf8);  // the original is untouched
    EXPECT_TRUE(KsString().toLower().isEmpty());

    KsString padded(" \t\r\nin side \n");
    padded.trim();
    EXPECT_STREQ(padded.ansiView(), "in side");
    KsString blank(" \t ");
    blank.trim();
    EXPECT_TRUE(blank.isEmpty());

    KsString xml("<a href=\"x\">&'\x01\t\n</a>");
    EXPECT_STREQ(xml.xmlEscape().ansiView(), "&lt;a href=&quot;x&quot;&gt;&amp;'\t\n&lt;/a&gt;");

    KsString hex("id:");
    const uint8_t bytes[] = {0x00, 0xAB, 0x7F};
    hex.appendHex(bytes, 3);
    EXPECT_STREQ(hex.ansiView(), "id:00ab7f");

    KsString built("caf");
    built.appendByte(0xC3);
    EXPECT_EQ(built.encoding(), Enc::Ansi);  // an open sequence is malformed
    built.appendByte(0xA9);
    EXPECT_EQ(built.encoding(), Enc::Utf8);
    try {
        KsString(WLIT("w")).appendByte('x');
        FAIL() << "no exception";
    } catch (const KsException& e) {
        EXPECT_EQ(messageOf(e), "Invalid encoding");
    }

    KsString bytesAt("\xC3\xA9");
    EXPECT_EQ(bytesAt.ansiByteAt(0), 0xE9);
    EXPECT_EQ(bytesAt.utf8ByteAt(1), 0xA9);
    EXPECT_THROW(bytesAt.utf8ByteAt(2), KsException);
    EXPECT_EQ(KsString().rawData(), nullptr);
    EXPECT_EQ(KsString().byteSize(), 0u);
    EXPECT_EQ(KsString(WLIT("ab")).byteSize(), 4u);
}

TEST(KsStringFormat, GrowsFromThirtyTwoUnits) {
    KsString s;
    EXPECT_EQ(s.format(KsString("%ld"), static_cast<int32_t>(-2147467259)), 11);
    EXPECT_STREQ(s.ansiView(), "-2147467259");
    EXPECT_EQ(s.format(KsString("%%%02x"), 0xC3), 3);
    EXPECT_STREQ(s.ansiView(), "%c3");

    const std::string pad31(31, 'x');
    const std::string pad32(32, 'y');
    const std::string pad40(40, 'z');
    EXPECT_EQ(s.format(KsString(pad31.c_str())), 31);
    EXPECT_EQ(utf8Of(s), pad31);
    EXPECT_EQ(s.format(KsString(pad32.c_str())), 32);
    EXPECT_EQ(utf8Of(s), pad32);
    EXPECT_EQ(s.format(KsString(pad40.c_str())), 40);
    EXPECT_EQ(utf8Of(s), pad40);
    EXPECT_EQ(s.formatWithCapacity(4, KsString("%d-%d"), 12, 34), 5);
    EXPECT_EQ(s.encoding(), Enc::Utf16);
    // A format the platform rejects ends with an empty text instead of growing for ever.
    EXPECT_EQ(s.format(KsString("%n")), -1);
    EXPECT_TRUE(s.isEmpty());
    // Refused before the platform sees it, whatever comes between: Windows'
    // runtime would write through the missing argument or end the process.
    for (const char* count : {"a%ln", "%5n b", "%d %hhn", "%I64n"}) {
        EXPECT_EQ(s.format(KsString(count), 1), -1) << count;
        EXPECT_TRUE(s.isEmpty()) << count;
    }
    EXPECT_EQ(s.format(KsString("100%%n")), 5) << "%% then n is text";
    EXPECT_STREQ(s.ansiView(), "100%n");
}

TEST(KsStringFormat, ScanReadsTheWideText) {
    int32_t number = 0;
    EXPECT_EQ(KsString("1234").scan(KsString("%d"), &number), 1);
    EXPECT_EQ(number, 1234);
    uint32_t value = 0;
    EXPECT_EQ(KsString("77l").scan(KsString("%ul"), &value), 1);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(KsString("77").scan(KsString("%ul"), &value), 1);
    EXPECT_EQ(KsString("").scan(KsString("%d"), &number), -1);
    EXPECT_EQ(KsString("%4a").scan(KsString("%%%2x"), &value), 1);
    EXPECT_EQ(value, 0x4Au);
}

TEST(KsStringReserve, AppliesToTheFormInUse) {
    KsString narrow("a");
    narrow.reserve(100);
    EXPECT_EQ(narrow.encoding(), Enc::Ansi);
    KsString none;
    none.reserve(10);
    EXPECT_EQ(none.encoding(), Enc::Utf16);
    none.appendChar('q');
    EXPECT_EQ(wideOf(none), u"q");
}

}  // namespace
