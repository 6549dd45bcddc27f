// SPDX-License-Identifier: MIT
#include "dialogs/entry_filter.h"

#include <gtest/gtest.h>

namespace mb::dialogs {
namespace {

Entry person(std::string name, std::string address) {
    return Entry{std::move(name), "SMTP", std::move(address), "00ab", {}};
}

TEST(EntryFilter, AnEmptyOrBlankQueryShowsEverything) {
    EXPECT_TRUE(EntryFilter().empty());
    EXPECT_TRUE(EntryFilter().matches(person("Ann", "ann@example.org")));
    EXPECT_TRUE(EntryFilter("").empty());
    EXPECT_TRUE(EntryFilter("  \t ").empty());
    EXPECT_TRUE(EntryFilter(" ").matches(person("Ann", "ann@example.org")));
}

TEST(EntryFilter, MatchesNameOrAddressWithoutRegardToCase) {
    Entry ann = person("Ann Example", "a.example@corp.example");
    EXPECT_TRUE(EntryFilter("ann").matches(ann));
    EXPECT_TRUE(EntryFilter("EXAMPLE").matches(ann));
    EXPECT_TRUE(EntryFilter("corp.ex").matches(ann));
    EXPECT_FALSE(EntryFilter("bob").matches(ann));
}

TEST(EntryFilter, EveryWordMustMatchSomewhere) {
    Entry ann = person("Ann Example", "ann@corp.example");
    EXPECT_TRUE(EntryFilter("ann corp").matches(ann));
    EXPECT_TRUE(EntryFilter("  exa   ann ").matches(ann));
    EXPECT_FALSE(EntryFilter("ann zed").matches(ann));
}

TEST(EntryFilter, AWordDoesNotRunFromTheNameIntoTheAddress) {
    Entry ann = person("Ann", "xyz@example.org");
    EXPECT_FALSE(EntryFilter("annxyz").matches(ann));
}

TEST(EntryFilter, NonAsciiLettersFoldTheirCase) {
    Entry m = person("Jürgen MÜLLER", "j@example.org");
    EXPECT_TRUE(EntryFilter("müller").matches(m));
    EXPECT_TRUE(EntryFilter("JÜRGEN").matches(m));
    Entry greek = person("Σωκράτης", "s@example.org");
    EXPECT_TRUE(EntryFilter("σωκράτης").matches(greek));
}

TEST(EntryFilter, AccentsAreOptionalOnEitherSide) {
    Entry jose = person("José Núñez", "jose@example.org");
    EXPECT_TRUE(EntryFilter("jose nunez").matches(jose));
    Entry plain = person("Jose Nunez", "jn@example.org");
    EXPECT_TRUE(EntryFilter("José").matches(plain));
}

TEST(EntryFilter, DecomposedAndComposedFormsAreOne) {
    // "é" as e + U+0301 in the entry, precomposed U+00E9 in the query.
    Entry e = person("Rene\xCC\x81", "r@example.org");
    EXPECT_TRUE(EntryFilter("Ren\xC3\xA9").matches(e));
}

TEST(EntryFilter, FullWidthAndLigatureFormsFoldToTheirPlainLetters) {
    EXPECT_TRUE(EntryFilter("ann").matches(person("\xEF\xBC\xA1nn", "x@example.org")));  // Ａnn
    EXPECT_TRUE(EntryFilter("office").matches(person("O\xEF\xAC\x83" "ce", "x@example.org")));  // Oﬃce
}

TEST(EntryFilter, BytesThatAreNotUtf8DoNotBreakMatching) {
    Entry broken = person("Ann\xFF", "ann@example.org");
    EXPECT_TRUE(EntryFilter("ann").matches(broken));
    EXPECT_FALSE(EntryFilter("bob\xFE").matches(broken));
}

TEST(EntryFilter, AListIsFoundByItsNameAlone) {
    Entry team{"Team", "MAPIPDL", "", "01", {person("Zed", "zed@example.org")}};
    EXPECT_TRUE(EntryFilter("tea").matches(team));
    EXPECT_FALSE(EntryFilter("zed").matches(team));
}

TEST(FoldForSearch, GivesTheSameKeyForEquivalentSpellings) {
    EXPECT_EQ(foldForSearch("STRASSE"), foldForSearch("strasse"));
    EXPECT_EQ(foldForSearch("Stra\xC3\x9F" "e"), foldForSearch("strasse"));  // ß folds to ss
    EXPECT_EQ(foldForSearch(""), "");
    EXPECT_EQ(foldForSearch(std::string_view()), "");
}

}  // namespace
}  // namespace mb::dialogs
