// SPDX-License-Identifier: MIT
#include "provider/contacts/vcard.h"

#include <gtest/gtest.h>

namespace mb::provider {
namespace {

TEST(VCard, UnfoldsUnescapesAndReadsParameters) {
    const VCardParse parse = parseVCards(
        "\xEF\xBB\xBF"
        "BEGIN:VCARD\r\n"
        "VERSION:4.0\r\n"
        "FN:Smith\\, Jo\r\n"
        " hn\\; Jr.\\nII\r\n"
        "EMAIL;TYPE=home;PREF=2:home@example.org\r\n"
        "item1.EMAIL;LABEL=\"a:b;c ^'q^'\";PREF=1:work@exa\r\n"
        "\tmple.org\r\n"
        "EMAIL:other@example.org\r\n"
        "NOTE:ignored\\, but read over\r\n"
        "END:VCARD\r\n");
    ASSERT_EQ(parse.cards.size(), 1u);
    EXPECT_TRUE(parse.problems.empty());
    const VCard& card = parse.cards[0];
    EXPECT_EQ(card.version, "4.0");
    EXPECT_EQ(card.fn, "Smith, John; Jr.\nII");
    EXPECT_EQ(card.emails, (std::vector<std::string>{"work@example.org", "home@example.org",
                                                     "other@example.org"}));
    EXPECT_FALSE(card.group);
}

TEST(VCard, Version3BareTypesAndGroups) {
    const VCardParse parse = parseVCards(
        "BEGIN:VCARD\nVERSION:3.0\nFN:Ann\nEMAIL;INTERNET:second@example.org\n"
        "EMAIL;INTERNET;PREF:first@example.org\nUID:abc-1\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:3.0\nFN:Team\nX-ADDRESSBOOKSERVER-KIND:group\n"
        "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:abc-1\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:4.0\nKIND:Group\nFN:All\nMEMBER:mailto:x@example.org\n"
        "MEMBER:urn:uuid:ABC-1\nX-MAILBROKER-X500:/o=Org/cn=all\nEND:VCARD\n");
    ASSERT_EQ(parse.cards.size(), 3u);
    EXPECT_EQ(parse.cards[0].emails,
              (std::vector<std::string>{"first@example.org", "second@example.org"}));
    EXPECT_EQ(parse.cards[0].uid, "abc-1");
    EXPECT_TRUE(parse.cards[1].group);
    EXPECT_EQ(parse.cards[1].members, (std::vector<std::string>{"urn:uuid:abc-1"}));
    EXPECT_TRUE(parse.cards[2].group);
    EXPECT_EQ(parse.cards[2].members.size(), 2u);
    EXPECT_EQ(parse.cards[2].x500, "/o=Org/cn=all");
}

TEST(VCard, MalformedLinesAreSkippedAndMalformedCardsTooAndTheRestLoads) {
    const VCardParse parse = parseVCards(
        "garbage before any card\n"
        "BEGIN:VCARD\nVERSION:4.0\nFN:One\nEND:VCARD\n"                          // line 2
        "BEGIN:VCARD\nVERSION:4.0\nthis line has no colon\nFN:Two\nEND:VCARD\n"  // 6
        "BEGIN:VCARD\nVERSION:4.0\nEMAIL;X=\"open:a@b\nFN:Three\nEND:VCARD\n"    // 11
        "BEGIN:VCARD\nVERSION:5.0\nFN:Future\nEND:VCARD\n"                       // 16
        "BEGIN:VCARD\nFN:No version\nEND:VCARD\n"                                // 20
        "BEGIN:VCARD\nVERSION:4.0\nFN:Bad \xC3\x28 text\nEND:VCARD\n"            // 23
        "BEGIN:VCARD\nVERSION:4.0\nFN:Unended\n"                                 // 27
        "BEGIN:VCARD\nVERSION:4.0\nFN:Four\nEND:VCARD\n"                         // 30
        "BEGIN:VCARD\nVERSION:4.0\nFN:Cut off\n");                               // 34
    std::vector<std::string> names;
    for (const VCard& card : parse.cards) {
        names.push_back(card.fn);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"One", "Two", "Three", "Four"}));
    ASSERT_EQ(parse.problems.size(), 7u);
    EXPECT_EQ(parse.problems[0],
              "line 8: line skipped: no ':' after the property name and parameters: "
              "this line has no colon");
    EXPECT_EQ(parse.problems[1],
              "line 13: line skipped: unterminated quoted parameter: EMAIL;X=\"open:a@b");
    EXPECT_NE(parse.problems[2].find("line 17: card skipped: unsupported VERSION 5.0"),
              std::string::npos)
        << parse.problems[2];
    EXPECT_NE(parse.problems[3].find("no VERSION"), std::string::npos) << parse.problems[3];
    EXPECT_NE(parse.problems[4].find("UTF-8"), std::string::npos) << parse.problems[4];
    EXPECT_NE(parse.problems[5].find("line 27:"), std::string::npos) << parse.problems[5];
    EXPECT_NE(parse.problems[6].find("no END"), std::string::npos) << parse.problems[6];
}

TEST(VCard, EmptyAndBinaryInputGiveNoCards) {
    EXPECT_TRUE(parseVCards("").cards.empty());
    const std::string binary("\0\xFF\xFE:\nBEGIN:VCARD\n\0\n", 19);
    const VCardParse parse = parseVCards(binary);
    EXPECT_TRUE(parse.cards.empty());
    ASSERT_EQ(parse.problems.size(), 2u);
    EXPECT_EQ(parse.problems[0], "line 3: line skipped: no property name: \\x00");
    EXPECT_NE(parse.problems[1].find("no END"), std::string::npos);
}

std::vector<std::string> shownNames(const VCardParse& parse) {
    std::vector<std::string> names;
    for (const VCard& card : parse.cards) {
        names.push_back(card.fn);
    }
    return names;
}

TEST(VCard, Version21QuotedPrintableCharsetsAndBareTypes) {
    const VCardParse parse = parseVCards(
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:J=C3=BCrgen =\r\n"
        "M=C3=BC=\r\n"
        "ller\r\n"
        "EMAIL;HOME:second@example.de\r\n"
        "EMAIL;PREF;INTERNET:first@example.de\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "FN;CHARSET=ISO-8859-1;QUOTED-PRINTABLE:Ren=E9 Fran=E7ois\r\n"
        "EMAIL:rene@example.fr\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "FN;CHARSET=Windows-1252:\x93Z\xF6\x65\x94 \x80\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "FN:S\xF8ren\r\n"  // no CHARSET, not UTF-8: what such phones write is Windows-1252
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "FN:Long\r\n Name\r\n"  // 2.1 folds at a blank, and the blank stays
        "END:VCARD\r\n");
    EXPECT_TRUE(parse.problems.empty()) << parse.problems.front();
    EXPECT_EQ(shownNames(parse), (std::vector<std::string>{
                                     "J\xC3\xBCrgen M\xC3\xBCller", "Ren\xC3\xA9 Fran\xC3\xA7ois",
                                     "\xE2\x80\x9CZ\xC3\xB6\x65\xE2\x80\x9D \xE2\x82\xAC",
                                     "S\xC3\xB8ren", "Long Name"}));
    ASSERT_EQ(parse.cards.size(), 5u);
    EXPECT_EQ(parse.cards[0].version, "2.1");
    EXPECT_EQ(parse.cards[0].emails,
              (std::vector<std::string>{"first@example.de", "second@example.de"}));
}

TEST(VCard, SoftBreaksDoNotSwallowTheEndOfTheCard) {
    const VCardParse parse = parseVCards(
        "BEGIN:VCARD\nVERSION:2.1\nFN:Ann\nNOTE;ENCODING=QUOTED-PRINTABLE:cut off=\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:2.1\nFN:Bob\nEND:VCARD\n");
    EXPECT_TRUE(parse.problems.empty());
    EXPECT_EQ(shownNames(parse), (std::vector<std::string>{"Ann", "Bob"}));
}

TEST(VCard, PhotosOfPhonesAreReadOver) {
    const std::string data = "/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8U";
    const VCardParse parse = parseVCards(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Indented\r\n"
        "PHOTO;ENCODING=BASE64;JPEG:" +
        data + "\r\n  " + data + "\r\n  " + data +
        "==\r\n\r\n"
        "EMAIL:a@example.org\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Flush left\r\n"
        "PHOTO;ENCODING=BASE64;TYPE=JPEG:" +
        data + "\r\n" + data + "\r\n" + data +
        "==\r\n\r\n"
        "EMAIL:b@example.org\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Folded\r\n"
        "PHOTO;ENCODING=b;TYPE=JPEG:" +
        data + "\r\n " + data + "\r\n " + data +
        "==\r\n"
        "EMAIL:c@example.org\r\nEND:VCARD\r\n");
    EXPECT_TRUE(parse.problems.empty()) << parse.problems.front();
    ASSERT_EQ(parse.cards.size(), 3u);
    EXPECT_EQ(parse.cards[0].emails, std::vector<std::string>{"a@example.org"});
    EXPECT_EQ(parse.cards[1].emails, std::vector<std::string>{"b@example.org"});
    EXPECT_EQ(parse.cards[2].emails, std::vector<std::string>{"c@example.org"});
}

TEST(VCard, UnknownCharsetOrTextNotInItLeavesTheValueOut) {
    const VCardParse parse = parseVCards(
        "BEGIN:VCARD\nVERSION:2.1\nFN;CHARSET=X-NOSUCH:Ann\nN:Lee;Ann\n"
        "EMAIL;CHARSET=UTF-8:ann@example.org\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:3.0\nFN;CHARSET=UTF-8//IGNORE:Bob\nFN;CHARSET=UTF-8:B\xF6\x62\n"
        "EMAIL:bob@example.org\nEND:VCARD\n");
    ASSERT_EQ(parse.cards.size(), 2u);
    EXPECT_EQ(parse.cards[0].fn, "Ann Lee");
    EXPECT_EQ(parse.cards[0].emails, std::vector<std::string>{"ann@example.org"});
    EXPECT_EQ(parse.cards[1].fn, "");
    EXPECT_EQ(parse.problems,
              (std::vector<std::string>{"line 3: FN left out: not text in CHARSET X-NOSUCH",
                                        "line 9: FN left out: not text in CHARSET UTF-8//IGNORE",
                                        "line 10: FN left out: not text in CHARSET UTF-8"}));
}

TEST(VCard, EveryLineEndReadsTheSame) {
    const std::vector<std::string> lines = {
        "BEGIN:VCARD", "VERSION:3.0", "FN:Ann", "EMAIL:ann@example.org", "END:VCARD",
        "BEGIN:VCARD", "VERSION:4.0", "FN:Bob", "EMAIL:bob@example.org", "END:VCARD"};
    for (const std::string eol : {"\n", "\r\n", "\r", "\r\r\n"}) {
        std::string text;
        for (const std::string& line : lines) {
            text += line + eol;
        }
        text += "BEGIN:VCARD" + eol + "VERSION:4.0" + eol + "FN" + eol + "END:VCARD" + eol;
        const VCardParse parse = parseVCards(text);
        SCOPED_TRACE(testing::PrintToString(eol));
        EXPECT_EQ(shownNames(parse), (std::vector<std::string>{"Ann", "Bob", ""}));
        ASSERT_EQ(parse.cards.size(), 3u);
        EXPECT_EQ(parse.cards[1].emails, std::vector<std::string>{"bob@example.org"});
        EXPECT_EQ(parse.cards[2].line, 11u);
        ASSERT_EQ(parse.problems.size(), 1u);
        EXPECT_EQ(parse.problems[0],
                  "line 13: line skipped: no ':' after the property name and parameters: FN");
    }
    // Mixed in one file, as files edited on several systems are.
    EXPECT_EQ(shownNames(parseVCards("BEGIN:VCARD\rVERSION:3.0\r\nFN:Ann\r\r\nEND:VCARD\n")),
              std::vector<std::string>{"Ann"});
}

TEST(VCard, ManyBadLinesAreNamedUpToAHundredAndCounted) {
    std::string text = "BEGIN:VCARD\nVERSION:3.0\nFN:Ann\n";
    for (int i = 0; i < 250; ++i) {
        text += "bad line\n";
    }
    const VCardParse parse = parseVCards(text + "EMAIL:ann@example.org\nEND:VCARD\n");
    ASSERT_EQ(parse.cards.size(), 1u);
    EXPECT_EQ(parse.cards[0].emails, std::vector<std::string>{"ann@example.org"});
    ASSERT_EQ(parse.problems.size(), 101u);
    EXPECT_EQ(parse.problems[99].rfind("line 103: line skipped:", 0), 0u) << parse.problems[99];
    EXPECT_EQ(parse.problems[100], "150 more lines skipped");
}

TEST(VCard, FirstNameOrTheMostPreferredIsShownAndTheOthersKept) {
    const VCardParse parse = parseVCards(
        "BEGIN:VCARD\nVERSION:3.0\nFN:First\nFN:Second\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:4.0\nFN:Plain\nFN;PREF=50:Fifty\nFN;PREF=2:Two\nFN:Last\n"
        "END:VCARD\n"
        "BEGIN:VCARD\nVERSION:4.0\nFN:Only one\nFN:\nEND:VCARD\n");
    ASSERT_EQ(parse.cards.size(), 3u);
    EXPECT_EQ(parse.cards[0].fn, "First");
    EXPECT_EQ(parse.cards[0].otherNames, std::vector<std::string>{"Second"});
    EXPECT_EQ(parse.cards[1].fn, "Two");
    EXPECT_EQ(parse.cards[1].otherNames, (std::vector<std::string>{"Fifty", "Plain", "Last"}));
    EXPECT_EQ(parse.cards[2].fn, "Only one");
    EXPECT_TRUE(parse.cards[2].otherNames.empty());
}

TEST(VCard, NameFromNWhenThereIsNoFn) {
    const VCardParse parse = parseVCards(
        "BEGIN:VCARD\nVERSION:3.0\nN:Public;John;Quinlan;Mr.;Esq.\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:4.0\nN:Stevenson;John;Philip,Paul;Dr.;Jr.,M.D.\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:2.1\nN:Doe;Jane\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:2.1\nN:Smith, Jr.;Al\nEND:VCARD\n"  // 2.1 has no comma lists
        "BEGIN:VCARD\nVERSION:3.0\nN:O\\;Neil\\, Sr.;;;;\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:3.0\nN:Ignored;Name\nFN:Shown\nEND:VCARD\n"
        "BEGIN:VCARD\nVERSION:3.0\nN:;;;;\nEND:VCARD\n");
    EXPECT_EQ(shownNames(parse),
              (std::vector<std::string>{"Mr. John Quinlan Public Esq.",
                                        "Dr. John Philip Paul Stevenson Jr. M.D.", "Jane Doe",
                                        "Al Smith, Jr.", "O;Neil, Sr.", "Shown", ""}));
}

TEST(VCard, UnescapeKeepsUnknownEscapesAndATrailingBackslash) {
    EXPECT_EQ(unescapeText("a\\\\b\\Nc\\:d\\"), "a\\b\nc:d\\");
}

TEST(VCard, AddressesWithLineBreaksAreLeftOutAndTheCardStays) {
    const VCardParse parse = parseVCards(
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Mallory\r\n"
        "EMAIL;PREF=1:mal@example.org\\nEvil <evil@example.net>\r\n"
        "EMAIL:mal@example.org\rEvil <evil@example.net>\r\n"
        "EMAIL;ENCODING=QUOTED-PRINTABLE:mal@example.org=0D=0AEvil <evil@example.net>\r\n"
        "EMAIL;ENCODING=QUOTED-PRINTABLE:mal=0D@example.org\r\n"
        "EMAIL:mal\xC2\x85@example.org\r\n"
        "EMAIL:" + std::string(65, 'm') + "@example.org\r\n"
        "EMAIL;QUOTED-PRINTABLE:mallory=40example.org\r\n"
        "EMAIL:home@example.org\r\n"
        "X-MAILBROKER-X500:/o=Org/cn=mal\\n/cn=evil\r\n"
        "END:VCARD\r\n");
    ASSERT_EQ(parse.cards.size(), 1u);
    const VCard& card = parse.cards[0];
    EXPECT_EQ(card.fn, "Mallory");
    // The bare CR ends line 5: its EMAIL is the part before it, and what
    // follows is a line of its own that is no property, skipped and named.
    EXPECT_EQ(card.emails, (std::vector<std::string>{"mal@example.org", "mallory@example.org",
                                                     "home@example.org"}));
    EXPECT_TRUE(card.x500.empty());
    ASSERT_EQ(parse.problems.size(), 7u);
    EXPECT_NE(parse.problems[0].find("line 4: EMAIL mal@example.org\\x0AEvil"), std::string::npos)
        << parse.problems[0];
    EXPECT_EQ(parse.problems[1],
              "line 6: line skipped: no ':' after the property name and parameters: "
              "Evil <evil@example.net>");
    EXPECT_NE(parse.problems[2].find("line 7: EMAIL mal@example.org\\x0D\\x0AEvil"),
              std::string::npos)
        << parse.problems[2];
    EXPECT_NE(parse.problems[5].find("too long"), std::string::npos) << parse.problems[5];
    EXPECT_NE(parse.problems[6].find("X-MAILBROKER-X500"), std::string::npos);
}

}  // namespace
}  // namespace mb::provider
