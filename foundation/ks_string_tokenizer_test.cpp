// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ks_exception.h"
#include "foundation/ks_string_tokenizer.h"

namespace {

// Every token, as UTF-16. The cap stops a tokenizer that never runs dry.
std::vector<std::basic_string<WCHAR>> tokensOf(const KsString& source, const KsString& delimiters) {
    KsStringTokenizer tokenizer(source, delimiters);
    std::vector<std::basic_string<WCHAR>> tokens;
    while (tokenizer.hasMoreTokens() && tokens.size() < 64) {
        KsString token(tokenizer.nextToken());
        tokens.emplace_back(token.wideView());
    }
    return tokens;
}

using Tokens = std::vector<std::basic_string<WCHAR>>;

TEST(KsStringTokenizer, DelimitersEndTokensWithoutBeingSkipped) {
    EXPECT_EQ(tokensOf("a,,b", ","), (Tokens{WLIT("a"), WLIT(""), WLIT("b")}));
    EXPECT_EQ(tokensOf(",a", ","), (Tokens{WLIT(""), WLIT("a")}));
    EXPECT_EQ(tokensOf("a,", ","), (Tokens{WLIT("a")}));
    EXPECT_EQ(tokensOf("a;b,c;", ";,"), (Tokens{WLIT("a"), WLIT("b"), WLIT("c")}));
    EXPECT_EQ(tokensOf("a,b;c", ""), (Tokens{WLIT("a,b;c")}));
}

TEST(KsStringTokenizer, EmptySourceHasNoTokensAndNextTokenThrows) {
    KsStringTokenizer tokenizer("", ",");
    EXPECT_FALSE(tokenizer.hasMoreTokens());
    try {
        tokenizer.nextToken();
        FAIL() << "nextToken returned on an empty source";
    } catch (const KsException& e) {
        KsString message(e.getMessage());
        EXPECT_STREQ(message.utf8View(),
                     "KsStringTokenizer::nextToken called with no tokens remaining");
    }
    // Running dry after real tokens throws the same way.
    KsStringTokenizer spent("x", ",");
    spent.nextToken();
    EXPECT_THROW(spent.nextToken(), KsException);
}

TEST(KsStringTokenizer, NonAsciiTextSplitsByUtf16Units) {
    // UTF-8 "é;ü" and "😀;x": the emoji is one token of two surrogate units.
    EXPECT_EQ(tokensOf("\xC3\xA9;\xC3\xBC", ";"), (Tokens{WLIT("\u00E9"), WLIT("\u00FC")}));
    const Tokens emoji = tokensOf("\xF0\x9F\x98\x80;x", ";");
    ASSERT_EQ(emoji.size(), 2u);
    EXPECT_EQ(emoji[0], WLIT("\U0001F600"));
    EXPECT_EQ(emoji[0].size(), 2u);
    EXPECT_EQ(emoji[1], WLIT("x"));
    // A non-ASCII delimiter given as UTF-16.
    EXPECT_EQ(tokensOf(WLIT("a\u00B7b"), WLIT("\u00B7")), (Tokens{WLIT("a"), WLIT("b")}));
}

}  // namespace
