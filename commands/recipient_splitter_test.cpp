// SPDX-License-Identifier: MIT
#include "commands/recipient_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Entries = std::vector<std::string>;

Entries split(std::string text, bool commaSeparates = true) {
    const uint64_t bound = RecipientSplitter::upperBound(text.c_str(), commaSeparates);
    Entries entries;
    RecipientSplitter splitter(text.data(), commaSeparates);
    for (char* entry = splitter.next(); entry != nullptr; entry = splitter.next()) {
        entries.emplace_back(entry);
    }
    EXPECT_EQ(splitter.next(), nullptr) << "the end stays the end";
    EXPECT_LE(entries.size(), bound) << "the bound sizes the list the entries go into";
    return entries;
}

TEST(RecipientSplitter, SeparatorsAsBeforeAndEmptyEntriesSkipped) {
    EXPECT_EQ(split("alpha;beta,gamma\ndelta"), (Entries{"alpha", "beta", "gamma", "delta"}));
    EXPECT_EQ(split(";;a,, b;\n"), (Entries{"a", " b"}));
    EXPECT_EQ(split(""), Entries{});
    EXPECT_EQ(split(",;\n"), Entries{});
    EXPECT_EQ(split("alpha;beta,gamma", false), (Entries{"alpha", "beta,gamma"}));
}

TEST(RecipientSplitter, QuotedNamesKeepTheirCommasAndSemicolons) {
    EXPECT_EQ(split("\"Doe, John\" <jd@example.org>"), Entries{"\"Doe, John\" <jd@example.org>"});
    EXPECT_EQ(
        split("\"Doe, John\" <jd@example.org>, ann; \"Roe; Rita\" <rr@example.org>"),
        (Entries{"\"Doe, John\" <jd@example.org>", " ann", " \"Roe; Rita\" <rr@example.org>"}));
    EXPECT_EQ(split("\"Doe \\\"JD\\\", John\" <jd@example.org>,ann"),
              (Entries{"\"Doe \\\"JD\\\", John\" <jd@example.org>", "ann"}))
        << "an escaped quote does not close";
    EXPECT_EQ(split("\"a,b\"@example.org,c"), (Entries{"\"a,b\"@example.org", "c"}));
}

TEST(RecipientSplitter, AngleBracketsKeepTheirCommasAndSemicolons) {
    EXPECT_EQ(split("John <\"j,d\"@example.org>, Ann <a;x@example.org>;bob"),
              (Entries{"John <\"j,d\"@example.org>", " Ann <a;x@example.org>", "bob"}));
    EXPECT_EQ(split("<a,b>c,d"), (Entries{"<a,b>c", "d"}));
}

TEST(RecipientSplitter, UnmatchedQuoteOrBracketProtectsNothing) {
    EXPECT_EQ(split("O\"Brien, ann@example.org; bob"),
              (Entries{"O\"Brien", " ann@example.org", " bob"}));
    EXPECT_EQ(split("a < b, c; d"), (Entries{"a < b", " c", " d"}));
    EXPECT_EQ(split("a > b, c"), (Entries{"a > b", " c"}));
    EXPECT_EQ(split("\"Doe, John\" <jd@example.org, ann"),
              (Entries{"\"Doe, John\" <jd@example.org", " ann"}));
    // A line feed always separates, so a pair split by one is not a pair.
    EXPECT_EQ(split("\"Doe, \nJohn\", ann"), (Entries{"\"Doe", " ", "John\"", " ann"}));
    EXPECT_EQ(split("<a,\nb>,c"), (Entries{"<a", "b>", "c"}));
}

TEST(RecipientSplitter, CommaOffStillHonoursQuotesForSemicolons) {
    EXPECT_EQ(split("\"Doe, John\" <jd@example.org>, ann", false),
              Entries{"\"Doe, John\" <jd@example.org>, ann"});
    EXPECT_EQ(split("\"Doe; John\" <jd@example.org>; ann", false),
              (Entries{"\"Doe; John\" <jd@example.org>", " ann"}));
    EXPECT_EQ(split("Smith, John <js;x@example.org>;ann", false),
              (Entries{"Smith, John <js;x@example.org>", "ann"}));
}

TEST(RecipientSplitter, UpperBoundCountsEverySeparatorQuotedOrNot) {
    EXPECT_EQ(RecipientSplitter::upperBound("", true), 1u);
    EXPECT_EQ(RecipientSplitter::upperBound("\"a,b\";c\nd", true), 4u);
    EXPECT_EQ(RecipientSplitter::upperBound("\"a,b\";c\nd", false), 3u);
    EXPECT_EQ(RecipientSplitter::upperBound(",,,", true), 4u);
    EXPECT_EQ(RecipientSplitter::upperBound(",,,", false), 1u);
}

TEST(RecipientSplitter, TextsOfOnlyOpenersEndWithEveryEntry) {
    // Each opener would search to the end of the line; it is searched once.
    std::string angles(1 << 20, '<');
    angles += ",x";
    EXPECT_EQ(split(angles), (Entries{std::string(1 << 20, '<'), "x"}));
    std::string quotes = "\"" + std::string(1 << 20, '<') + ";y";
    EXPECT_EQ(split(quotes).size(), 2u);
}

}  // namespace
