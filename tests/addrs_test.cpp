// SPDX-License-Identifier: MIT
// OutlookGetAddrs end to end, and the recipient separators that SendMail
// shares with it (the comma and the registry setting that turns it off).
#include <gtest/gtest.h>

#include <chrono>

#include "provider/contacts/directory_test_support.h"
#include "tests/support/provider_install.h"

using namespace mbtest;

namespace {

using mb::provider::test::card;
using mb::provider::test::group;

constexpr uint32_t kReplyMs = 30000;
constexpr const char* kUserCancel = "-2147221229";

class Addrs : public ::testing::Test {
  protected:
    explicit Addrs(const char* folder = "bin") : install_(folder) {}

    void SetUp() override {
        std::string cards = card("FN:Ann Example\r\nEMAIL:ann@example.org\r\n") +
                            card("FN:Bob Example\r\nUID:bob\r\nEMAIL:bob@example.org\r\n") +
                            card("FN:Eve Example\r\nX-MAILBROKER-X500:/o=Ex/cn=eve\r\n"
                                 "EMAIL:eve@example.org\r\n") +
                            card("FN:Xavier Nomail\r\nX-MAILBROKER-X500:/o=Ex/cn=xavier\r\n") +
                            card("FN:Xena\\nEvil <evil@example.net>\r\n"
                                 "X-MAILBROKER-X500:/o=Ex/cn=xena\r\n") +
                            card("FN:Mallory Example\r\n"
                                 "EMAIL;PREF=1:mal@example.org\\nEvil <evil@example.net>\r\n"
                                 "EMAIL;PREF=2:mal@example.org\rEvil <evil@example.net>\r\n"
                                 "EMAIL;PREF=3;ENCODING=QUOTED-PRINTABLE:"
                                 "mal@example.org=0D=0AEvil <evil@example.net>\r\n"
                                 "EMAIL;PREF=4:mal@example.org\r\n") +
                            group("Team", {"urn:uuid:bob", "mailto:t1@example.org",
                                           "urn:uuid:Inner"}) +
                            group("Inner", {"mailto:i1@example.org"}) +
                            group("GA", {"urn:uuid:GB", "urn:uuid:GC", "mailto:a@example.org"}) +
                            group("GB", {"urn:uuid:GA", "urn:uuid:GC", "mailto:b@example.org"}) +
                            group("GC", {"urn:uuid:GA", "urn:uuid:GB", "mailto:c@example.org"});
        for (int i = 1; i <= 26; ++i) {
            std::vector<std::string> members = {"mailto:m" + std::to_string(i) + "@example.org"};
            if (i < 26) {
                members.push_back("urn:uuid:L" + std::to_string(i + 1));
            }
            cards += group("L" + std::to_string(i), members);
        }
        const std::string path = install_.writeFile("cards.vcf", cards);
        install_.writeProfiles("[profile Default]\ndefault = true\naddress_books = " + path + "\n");
    }

    std::string request(const std::string& text) {
        BrokerHost broker = install_.start();
        BrokerConnection c = broker.connect();
        return fields(c.request(text, kReplyMs));
    }

    ProviderInstall install_;
};

TEST_F(Addrs, NamesResolveToSmtpAddressesWithoutADialog) {
    EXPECT_EQ(request("OutlookGetAddrs?to=Ann%20Example%3Bbob%40example.org"),
              "error=0;to=ann@example.org;bob@example.org;");
}

TEST_F(Addrs, CardAddressesWithLineBreaksAreLeftOutAndReported) {
    EXPECT_EQ(request("OutlookGetAddrs?to=Mallory"), "error=0;to=mal@example.org;");
    const std::string log = install_.providerLog();
    EXPECT_NE(log.find("EMAIL mal@example.org\\x0AEvil <evil@example.net> left out"),
              std::string::npos)
        << log;
    // A bare CR ends a card's line: what follows it is a line of its own,
    // which is no property and is skipped and named, never an address.
    EXPECT_NE(log.find("line skipped: no ':' after the property name and parameters: "
                       "Evil <evil@example.net>"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("EMAIL mal@example.org\\x0D\\x0AEvil"), std::string::npos) << log;
}

TEST_F(Addrs, NamesGivenInPlaceOfAnAddressAreOneLine) {
    EXPECT_EQ(request("OutlookGetAddrs?to=Xena"), "error=0;to=Xena Evil <evil@example.net>;");
}

TEST_F(Addrs, OneOffsWithLineBreaksOrBadSyntaxFailTheRequest) {
    // The reply then holds the texts as the host sent them, split, as for a
    // cancelled dialog: no address comes from the address book.
    const std::string invalid = "error=-2147024809;to=";  // MAPI_E_INVALID_PARAMETER
    EXPECT_EQ(request("OutlookGetAddrs?to=mal%40example.org%0DEvil%20%3Cevil%40example.net%3E"),
              invalid + "mal@example.org\rEvil <evil@example.net>;");
    EXPECT_EQ(request("OutlookGetAddrs?to=Ev%0Dil%20%3Cevil%40example.net%3E"),
              invalid + "Ev\ril <evil@example.net>;");
    EXPECT_EQ(request("OutlookGetAddrs?to=Mallory%0D"), "error=0;to=mal@example.org;")
        << "blanks around a name are not part of it";
    EXPECT_EQ(request("OutlookGetAddrs?to=Ann%3Bx%C2%85y%40example.org").rfind(invalid, 0), 0u);
    EXPECT_EQ(request("OutlookGetAddrs?to=Evil%20%3Cevil%40exa%20mple.net%3E"),
              invalid + "Evil <evil@exa mple.net>;");
    EXPECT_EQ(request("OutlookGetAddrs?to=a..b%40example.org"), invalid + "a..b@example.org;");
    EXPECT_NE(install_.providerLog().find("recipient a..b@example.org refused"),
              std::string::npos);
    EXPECT_EQ(request("OutlookGetAddrs?to=%22a%20b%22%40example.org"),
              "error=0;to=\"a b\"@example.org;");
}

TEST_F(Addrs, ExchangeUsersBecomeTheirSmtpAddressOrTheirName) {
    EXPECT_EQ(request("OutlookGetAddrs?to=Eve%20Example&cc=Xavier%20Nomail"),
              "cc=Xavier Nomail;error=0;to=eve@example.org;");
}

TEST_F(Addrs, DistributionListsAreExpandedInPlace) {
    EXPECT_EQ(request("OutlookGetAddrs?bcc=Team%3Bann%40example.org"),
              "bcc=bob@example.org;t1@example.org;i1@example.org;ann@example.org;error=0;");
}

TEST_F(Addrs, ChainOfTwentySixListsIsCutAndTheNextListStillExpands) {
    std::string want = "error=0;to=";
    for (int i = 1; i <= 25; ++i) {
        want += "m" + std::to_string(i) + "@example.org;";
    }
    EXPECT_EQ(request("OutlookGetAddrs?to=L1%3BInner"), want + "i1@example.org;");
}

TEST_F(Addrs, ListsHoldingEachOtherEndInBoundedTime) {
    const auto started = std::chrono::steady_clock::now();
    const std::string reply = request("OutlookGetAddrs?to=GA%3Bann%40example.org");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    ASSERT_EQ(reply.rfind("error=0;to=", 0), 0u) << reply.substr(0, 200);
    EXPECT_NE(reply.find("a@example.org;"), std::string::npos);
    EXPECT_NE(reply.find("b@example.org;"), std::string::npos);
    EXPECT_NE(reply.find("c@example.org;"), std::string::npos);
    EXPECT_EQ(reply.substr(reply.size() - 17), ";ann@example.org;") << "the next entry still counts";
}

// Lists that hold each other name the same members again and again; the
// reply names each once, where it first came.
TEST_F(Addrs, ListsHoldingEachOtherGiveEachMemberOnce) {
    // Depth first: GA and GB alternate down to GA at the 25th level, whose
    // lists are cut, so its own a@ comes first, then GC's c@, then GB's b@.
    EXPECT_EQ(request("OutlookGetAddrs?to=GA"),
              "error=0;to=a@example.org;c@example.org;b@example.org;");
}

// Within one field a mailbox comes once, its domain compared without case;
// a local part that differs in case is another mailbox.
TEST_F(Addrs, RepeatedAddressesAreListedOnceInTheirFirstPlace) {
    EXPECT_EQ(request("OutlookGetAddrs?to=t1%40EXAMPLE.ORG%3BTeam%3BT1%40example.org%3BInner"
                      "&bcc=Team&cc=ann%40example.org%3BAnn%20Example"),
              "bcc=bob@example.org;t1@example.org;i1@example.org;cc=ann@example.org;error=0;"
              "to=t1@EXAMPLE.ORG;bob@example.org;i1@example.org;T1@example.org;");
}

TEST_F(Addrs, DialogShowsOnlyTheWellsSentAndReturnsThem) {
    install_.writeUiScript("address keep\n");
    EXPECT_EQ(request("OutlookGetAddrs?cc=ann%40example.org&ShowAddressBook=1"),
              "cc=ann@example.org;error=0;");
    install_.writeUiScript("address to: Ann | bcc: bob@example.org\n");
    EXPECT_EQ(request("OutlookGetAddrs?to=eve%40example.org&bcc=&ShowAddressBook=1"),
              "bcc=bob@example.org;error=0;to=ann@example.org;");
}

TEST_F(Addrs, CancelledDialogReturnsTheTextsAsSplit) {
    install_.writeUiScript("address cancel\n");
    EXPECT_EQ(request("OutlookGetAddrs?to=%3Bann%40example.org%3Bbob%40example.org&ShowAddressBook=1"),
              std::string("error=") + kUserCancel + ";to=;ann@example.org;");
}

TEST_F(Addrs, NoRecipientKeysResolveNothing) {
    EXPECT_EQ(request("OutlookGetAddrs?ShowAddressBook=1"), "error=0;");
}

TEST_F(Addrs, OnlySeparatorsGiveEmptyTexts) {
    EXPECT_EQ(request("OutlookGetAddrs?to=%3B%3B%0A&cc=" + std::string(1 << 20, ',')),
              "cc=;error=0;to=;");
}

// The comma separates two addresses unless the user's setting turns it off,
// read under the key that the Broker's install folder picks.
constexpr const char* kTwoByComma = "OutlookGetAddrs?to=ann%40example.org%2Cbob%40example.org";
constexpr const char* kSplit = "error=0;to=ann@example.org;bob@example.org;";
const std::string kWhole = std::string("error=") + kUserCancel +
                           ";to=ann@example.org,bob@example.org;";
constexpr const char* kTavroKey = "Software\\Varnek\\Pellion Tavro\\10.0\\Sendmail";
constexpr const char* kPellionKey = "Software\\Varnek\\Varnek Pellion\\10.0\\Sendmail";
constexpr const char* kOn = "\"bRemoveCommaDelimiter\"=dword:00000001";

TEST_F(Addrs, CommaSeparatesByDefaultAndUnderTheOtherProductsKey) {
    EXPECT_EQ(request(kTwoByComma), kSplit);
    install_.writeRegistry(kTavroKey, kOn);
    EXPECT_EQ(request(kTwoByComma), kSplit);
    install_.writeRegistry(kPellionKey, "\"bRemoveCommaDelimiter\"=\"1\"");
    EXPECT_EQ(request(kTwoByComma), kSplit) << "a string value is not the setting";
    install_.writeRegistry(kPellionKey, kOn);
    EXPECT_EQ(request(kTwoByComma), kWhole);
}

class TavroAddrs : public Addrs {
  protected:
    TavroAddrs() : Addrs("Tavro") {}
};

TEST_F(TavroAddrs, SettingIsReadUnderTheTavroKey) {
    install_.writeRegistry(kPellionKey, kOn);
    EXPECT_EQ(request(kTwoByComma), kSplit);
    install_.writeRegistry(kTavroKey, kOn);
    EXPECT_EQ(request(kTwoByComma), kWhole);
    install_.writeRegistry(kTavroKey, "\"bRemoveCommaDelimiter\"=dword:00000000");
    EXPECT_EQ(request(kTwoByComma), kSplit);
}

class LowerCaseTavroAddrs : public Addrs {
  protected:
    LowerCaseTavroAddrs() : Addrs("tavro") {}
};

TEST_F(LowerCaseTavroAddrs, FolderNameIsMatchedExactly) {
    install_.writeRegistry(kTavroKey, kOn);
    EXPECT_EQ(request(kTwoByComma), kSplit);
}

TEST_F(Addrs, QuotedNameWithACommaIsOneRecipientWhateverTheSetting) {
    const std::string doe =
        "OutlookGetAddrs?to=%22Doe%2C%20John%22%20%3Cjd%40example.org%3E%2Cann%40example.org";
    EXPECT_EQ(request(doe), "error=0;to=jd@example.org;ann@example.org;");
    install_.writeRegistry(kPellionKey, kOn);
    EXPECT_EQ(request("OutlookGetAddrs?to=%22Doe%3B%20John%22%20%3Cjd%40example.org%3E%3B"
                      "ann%40example.org"),
              "error=0;to=jd@example.org;ann@example.org;");
}

TEST_F(Addrs, SendMailSplitsWithTheSameSeparators) {
    install_.writeRegistry(kPellionKey, kOn);
    BrokerHost broker = install_.start();
    BrokerConnection c = broker.connect();
    EXPECT_EQ(fields(c.request("SendMail?silent=1&to=ann%40example.org%2Cbob%40example.org",
                               kReplyMs)),
              std::string("error=") + kUserCancel + ";result=0;");
    EXPECT_EQ(fields(c.request("SendMail?silent=1&to=ann%40example.org%0Abob%40example.org",
                               kReplyMs)),
              "error=0;result=1;");
    const std::vector<std::string> sent = install_.messages("Outbox/new");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_NE(describeMessage(sent[0]).find("to=ann@example.org,bob@example.org\n"),
              std::string::npos);
}

}  // namespace
