// SPDX-License-Identifier: MIT
#include "provider/com/property_bag.h"

#include <gtest/gtest.h>

#include "provider/com/exports.h"

namespace mb::provider::test {
namespace {

TEST(TextWidths, ConvertBothWaysAndRepairDamage) {
    EXPECT_EQ(utf16ToUtf8(u"Zoë 😀"), "Zoë 😀");
    EXPECT_EQ(utf8ToUtf16("Zoë 😀"), u"Zoë 😀");
    // A lone surrogate, a stray continuation byte, an overlong form and a
    // truncated sequence each become U+FFFD.
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t{0xD800}) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(utf8ToUtf16("a\x80"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
}

TEST(TextWidths, NarrowTextThatIsNotUtf8IsWindows1252) {
    EXPECT_EQ(narrowToUtf8("Caf\xC3\xA9"), "Café");
    EXPECT_EQ(narrowToUtf8("Caf\xE9 \x80"), "Café €");
    EXPECT_EQ(narrowToUtf8("\x81"), "\xC2\x81");
}

SPropValue wideValue(ULONG tag, const char16_t* text) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszW = const_cast<LPWSTR>(reinterpret_cast<const WCHAR*>(text));
    return value;
}

TEST(Bag, OneIdentifierAnsweredInEitherWidth) {
    PropertyBag bag;
    std::vector<SPropProblem> problems;
    SPropValue value = wideValue(PR_SUBJECT_W, u"Grüße");
    ASSERT_EQ(bag.set(1, &value, {}, problems), S_OK);
    EXPECT_TRUE(problems.empty());
    SizedSPropTagArray(3, tags) = {3, {PR_SUBJECT_A, PR_SUBJECT_W, PR_BODY_W}};
    ULONG count = 0;
    SPropValue* out = nullptr;
    ASSERT_EQ(bag.get(reinterpret_cast<LPSPropTagArray>(&tags), 0, {}, &count, &out),
              MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 3u);
    EXPECT_STREQ(out[0].Value.lpszA, "Grüße");
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out[1].Value.lpszW)), u"Grüße");
    EXPECT_EQ(out[2].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_BODY_W)));
    EXPECT_EQ(out[2].Value.err, MAPI_E_NOT_FOUND);
    MAPIFreeBuffer(out);
}

TEST(Bag, ProblemsNameEachRefusedValue) {
    PropertyBag bag(/*rejectUnicode=*/true);
    SPropValue values[5] = {};
    values[0] = wideValue(PR_SUBJECT_W, u"x");
    values[1].ulPropTag = PR_BODY_A;
    values[1].Value.lpszA = nullptr;  // malformed
    values[2].ulPropTag = 0;          // empty slot: skipped, no problem
    values[3].ulPropTag = PROP_TAG(PT_OBJECT, 0x6000);
    values[4].ulPropTag = PR_MESSAGE_CLASS_A;
    values[4].Value.lpszA = const_cast<char*>("IPM.Note");
    std::vector<SPropProblem> problems;
    ASSERT_EQ(bag.set(5, values, {}, problems), S_OK);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].ulIndex, 0u);
    EXPECT_EQ(problems[0].scode, MAPI_E_BAD_CHARWIDTH);
    EXPECT_EQ(problems[1].ulIndex, 1u);
    EXPECT_EQ(problems[1].scode, MAPI_E_BAD_VALUE);
    EXPECT_EQ(problems[2].ulIndex, 3u);
    EXPECT_EQ(problems[2].scode, MAPI_E_INVALID_TYPE);
    EXPECT_EQ(bag.text(PROP_ID(PR_MESSAGE_CLASS_A)), "IPM.Note");
    EXPECT_FALSE(bag.text(PROP_ID(PR_SUBJECT_A)));
    EXPECT_EQ(bag.set(1, nullptr, {}, problems), MAPI_E_INVALID_PARAMETER);
}

}  // namespace
}  // namespace mb::provider::test
