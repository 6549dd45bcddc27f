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

TEST(VCard, MalformedCardsAreSkippedAndTheRestLoads) {
    const VCardParse parse = parseVCards(
        "garbage before any card\n"
        "BEGIN:VCARD\nVERSION:4.0\nFN:One\nEND:VCARD\n"                  // line 2
        "BEGIN:VCARD\nVERSION:4.0\nthis line has no colon\nEND:VCARD\n"  // 6
        "BEGIN:VCARD\nVERSION:4.0\nEMAIL;X=\"open:a@b\nEND:VCARD\n"      // 10
        "BEGIN:VCARD\nVERSION:4.0\nFN:Two\nEND:VCARD\n"                  // 14
        "BEGIN:VCARD\nVERSION:2.1\nFN:Old\nEND:VCARD\n"                  // 18
        "BEGIN:VCARD\nFN:No version\nEND:VCARD\n"                        // 22
        "BEGIN:VCARD\nVERSION:4.0\nFN:Bad \xC3\x28 text\nEND:VCARD\n"    // 25
        "BEGIN:VCARD\nVERSION:4.0\nFN:Unended\n"                         // 29
        "BEGIN:VCARD\nVERSION:4.0\nFN:Three\nEND:VCARD\n"                // 32
        "BEGIN:VCARD\nVERSION:4.0\nFN:Cut off\n");                       // 36
    std::vector<std::string> names;
    for (const VCard& card : parse.cards) {
        names.push_back(card.fn);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"One", "Two", "Three"}));
    ASSERT_EQ(parse.problems.size(), 7u);
    EXPECT_NE(parse.problems[0].find("line 8:"), std::string::npos) << parse.problems[0];
    EXPECT_NE(parse.problems[1].find("unterminated"), std::string::npos) << parse.problems[1];
    EXPECT_NE(parse.problems[2].find("2.1"), std::string::npos) << parse.problems[2];
    EXPECT_NE(parse.problems[3].find("no VERSION"), std::string::npos) << parse.problems[3];
    EXPECT_NE(parse.problems[4].find("UTF-8"), std::string::npos) << parse.problems[4];
    EXPECT_NE(parse.problems[5].find("line 29:"), std::string::npos) << parse.problems[5];
    EXPECT_NE(parse.problems[6].find("no END"), std::string::npos) << parse.problems[6];
}

TEST(VCard, EmptyAndBinaryInputGiveNoCards) {
    EXPECT_TRUE(parseVCards("").cards.empty());
    const std::string binary("\0\xFF\xFE:\nBEGIN:VCARD\n\0\n", 19);
    const VCardParse parse = parseVCards(binary);
    EXPECT_TRUE(parse.cards.empty());
    EXPECT_EQ(parse.problems.size(), 1u);  // the card with the NUL line
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
    EXPECT_EQ(card.emails,
              (std::vector<std::string>{"mallory@example.org", "home@example.org"}));
    EXPECT_TRUE(card.x500.empty());
    ASSERT_EQ(parse.problems.size(), 7u);
    EXPECT_NE(parse.problems[0].find("line 4: EMAIL mal@example.org\\x0AEvil"), std::string::npos)
        << parse.problems[0];
    EXPECT_NE(parse.problems[2].find("line 6: EMAIL mal@example.org\\x0D\\x0AEvil"),
              std::string::npos)
        << parse.problems[2];
    EXPECT_NE(parse.problems[5].find("too long"), std::string::npos) << parse.problems[5];
    EXPECT_NE(parse.problems[6].find("X-MAILBROKER-X500"), std::string::npos);
}

}  // namespace
}  // namespace mb::provider
