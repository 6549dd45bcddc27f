// SPDX-License-Identifier: MIT
#include "provider/contacts/directory.h"

#include "provider/contacts/contact_entry_id.h"
#include "provider/contacts/directory_test_support.h"

namespace mb::provider::test {
namespace {

std::vector<std::string> names(const Directory& d, const std::vector<std::size_t>& indexes) {
    std::vector<std::string> out;
    for (std::size_t i : indexes) {
        out.push_back(d.entries()[i].displayName);
    }
    return out;
}

const AbEntry* byName(const Directory& d, const std::string& name) {
    for (const AbEntry& e : d.entries()) {
        if (e.displayName == name) {
            return &e;
        }
    }
    return nullptr;
}

TEST(Directory, ReadsFilesAndFoldersAndNotesWhatItSkips) {
    CardFolder folder;
    const std::string file = folder.write(
        "people.vcf", card("FN:Ann Lee\r\nEMAIL:ann@example.org\r\nUID:urn:uuid:A1\r\n") +
                          card("FN:Phone Only\r\nTEL:123\r\n"));
    folder.write("dir/b.VCF", card("FN:Bob\r\nEMAIL:bob@example.org\r\n"));
    folder.write("dir/a.vcf",
                 card("FN:Al\r\nEMAIL:al@example.org\r\n") + "BEGIN:VCARD\r\nFN:x\r\n");
    folder.write("dir/notes.txt", card("FN:Not read\r\nEMAIL:no@example.org\r\n"));
    folder.write("dir/sub/c.vcf", card("FN:Nested\r\nEMAIL:nested@example.org\r\n"));
    const auto d = Directory::load({file, folder.root() + "/dir", folder.root() + "/missing.vcf"});
    std::vector<std::string> all;
    for (const AbEntry& e : d->entries()) {
        all.push_back(e.displayName);
    }
    EXPECT_EQ(all, (std::vector<std::string>{"Ann Lee", "Al", "Bob"}));
    ASSERT_EQ(d->problems().size(), 2u);
    EXPECT_NE(d->problems()[0].find("a.vcf: line 6: card skipped"), std::string::npos);
    EXPECT_NE(d->problems()[1].find("missing.vcf: file skipped"), std::string::npos);
}

TEST(Directory, GroupsResolveMembersAcrossFiles) {
    CardFolder folder;
    const std::string people =
        folder.write("people.vcf", card("FN:Ann\r\nEMAIL:ann@example.org\r\nUID:urn:uuid:a-1\r\n"));
    const std::string groups = folder.write(
        "groups.vcf",
        card("KIND:group\r\nFN:Team\r\nUID:t-1\r\nMEMBER:urn:uuid:A-1\r\n"
             "MEMBER:mailto:ANN@example.org\r\nMEMBER:mailto:guest@example.org?subject=x\r\n"
             "MEMBER:urn:uuid:nobody\r\nMEMBER:urn:uuid:t-1\r\n") +
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Old Team\r\nX-ADDRESSBOOKSERVER-KIND:group\r\n"
            "X-ADDRESSBOOKSERVER-MEMBER:urn:uuid:t-1\r\nEND:VCARD\r\n");
    const auto d = Directory::load({people, groups});
    const AbEntry* team = byName(*d, "Team");
    ASSERT_NE(team, nullptr);
    EXPECT_TRUE(team->list);
    EXPECT_EQ(team->addrType, "MAPIPDL");
    ASSERT_EQ(team->members.size(), 4u);  // the unknown UID is left out
    EXPECT_EQ(d->entries()[team->members[0]].displayName, "Ann");
    EXPECT_EQ(d->entries()[team->members[1]].displayName, "Ann");
    const AbEntry& guest = d->entries()[team->members[2]];
    EXPECT_TRUE(guest.memberOnly);
    EXPECT_EQ(guest.address, "guest@example.org");
    EXPECT_EQ(&d->entries()[team->members[3]], team);  // a list may hold itself
    EXPECT_EQ(names(*d, byName(*d, "Old Team")->members), (std::vector<std::string>{"Team"}));
    ASSERT_EQ(d->problems().size(), 1u);
    EXPECT_NE(d->problems()[0].find("urn:uuid:nobody"), std::string::npos);
    // Member-only entries are neither matched nor offered.
    EXPECT_TRUE(d->match("guest@example.org").empty());
}

TEST(Directory, ExchangeEntriesCarryTheirSmtpAddress) {
    CardFolder folder;
    const auto d = Directory::load({folder.write(
        "ex.vcf",
        card("FN:Eve Exchange\r\nX-MAILBROKER-X500:/o=Org/ou=Site/cn=Recipients/cn=eve\r\n"
             "EMAIL:eve@example.org\r\n"))});
    ASSERT_EQ(d->entries().size(), 1u);
    const AbEntry& eve = d->entries()[0];
    EXPECT_EQ(eve.addrType, "EX");
    EXPECT_EQ(eve.address, "/o=Org/ou=Site/cn=Recipients/cn=eve");
    EXPECT_EQ(eve.smtp, "eve@example.org");
    EXPECT_EQ(d->match("/O=ORG/ou=Site/cn=Recipients/cn=eve").size(), 1u);
    EXPECT_EQ(d->match("eve@example.org").size(), 1u);
    bool sawSmtp = false;
    for (const Property& p : eve.properties()) {
        sawSmtp |= p.tag == PR_SMTP_ADDRESS_A && p.text == "eve@example.org";
    }
    EXPECT_TRUE(sawSmtp);
}

TEST(Directory, MatchesAddressThenWholeNameThenPrefix) {
    CardFolder folder;
    const auto d = Directory::load({folder.write(
        "m.vcf",
        card("FN:Ann\r\nEMAIL:ann@example.org\r\n") +
            card("FN:Anna Smith\r\nEMAIL:anna@example.org\r\nEMAIL:shared@example.org\r\n") +
            card("FN:Annabel\r\nEMAIL:shared@example.org\r\n") +
            card("FN:ann@example.org\r\nEMAIL:other@example.org\r\n"))});
    EXPECT_EQ(names(*d, d->match("  ANN  ")), (std::vector<std::string>{"Ann"}));
    EXPECT_EQ(names(*d, d->match("ann@EXAMPLE.org")), (std::vector<std::string>{"Ann"}));
    EXPECT_EQ(names(*d, d->match("anna s")), (std::vector<std::string>{"Anna Smith"}));
    EXPECT_EQ(names(*d, d->match("Anna")), (std::vector<std::string>{"Anna Smith", "Annabel"}));
    EXPECT_EQ(d->match("shared@example.org").size(), 2u);
    EXPECT_TRUE(d->match("zed").empty());
    EXPECT_TRUE(d->match("   ").empty());
}

TEST(Directory, EntryIdsRoundTripAndStaleOnesAreRefused) {
    CardFolder folder;
    const std::string path = folder.write("a.vcf", card("FN:Ann\r\nEMAIL:ann@example.org\r\n"));
    const std::vector<BYTE> id = Directory::load({path})->entries()[0].entryId;
    AbEntry found;
    ASSERT_TRUE(Directory::load({path})->find(id.data(), static_cast<ULONG>(id.size()), found));
    EXPECT_EQ(found.displayName, "Ann");
    folder.write("a.vcf", card("FN:Someone Else\r\nEMAIL:else@example.org\r\n"));
    EXPECT_FALSE(Directory::load({path})->find(id.data(), static_cast<ULONG>(id.size()), found));
    std::vector<BYTE> cut(id.begin(), id.end() - 1);
    EXPECT_FALSE(Directory::load({path})->find(cut.data(), static_cast<ULONG>(cut.size()), found));

    const std::vector<BYTE> oneOff = makeOneOffEntryId("Guest", "SMTP", "guest@example.org");
    ASSERT_TRUE(Directory::load({})->find(oneOff.data(), static_cast<ULONG>(oneOff.size()), found));
    EXPECT_EQ(found.smtp, "guest@example.org");
    EXPECT_EQ(found.displayName, "Guest");
    std::vector<BYTE> unterminated(oneOff.begin(), oneOff.end() - 1);
    EXPECT_FALSE(Directory::load({})->find(unterminated.data(),
                                           static_cast<ULONG>(unterminated.size()), found));
}

TEST(Directory, EveryNameOfACardFindsIt) {
    CardFolder folder;
    const auto d = Directory::load(
        {folder.write("n.vcf", card("FN;PREF=2:Robert Roe\r\nFN;PREF=1:Bob Roe\r\nFN:Bobby\r\n"
                                    "EMAIL:roe@example.org\r\n") +
                                   card("FN:Rob Other\r\nEMAIL:other@example.org\r\n"))});
    EXPECT_EQ(names(*d, d->match("Bob Roe")), (std::vector<std::string>{"Bob Roe"}));
    EXPECT_EQ(names(*d, d->match("robert roe")), (std::vector<std::string>{"Bob Roe"}));
    EXPECT_EQ(names(*d, d->match("Bobby")), (std::vector<std::string>{"Bob Roe"}));
    EXPECT_EQ(names(*d, d->match("Rob")), (std::vector<std::string>{"Bob Roe", "Rob Other"}))
        << "a prefix of another name counts as one of the shown name";
}

// Cards as phones, desktop and web address books and CardDAV servers write
// them (testdata/): each person is found by every address and by the name
// shown, and only the one broken line is reported.
TEST(Directory, CorpusOfExportsLoadsAndResolves) {
    const auto d = Directory::load({MB_CONTACTS_TESTDATA});
    struct Person {
        std::string name;
        std::vector<std::string> emails;  // the preferred first
    };
    const std::vector<Person> people = {
        {"Marek Kowalski", {"marek.kowalski@example.pl"}},
        {"Claire Moreau", {"claire.moreau@example.fr"}},
        {"Wei Ng", {"wei.ng@example.sg"}},
        {"Priya Raman", {"priya.raman@example.in"}},
        {"Tom\xC3\xA1s Ruiz", {"tomas.ruiz@example.es"}},
        {"Astrid Lindqvist", {"astrid@example.se", "astrid.lindqvist@example.se"}},
        {"Ms. Siobh\xC3\xA1n M\xC3\xA1ire O'Brien PhD", {"siobhan.obrien@example.ie"}},
        {"J\xC3\xBCrgen M\xC3\xBCller", {"juergen@example.de", "juergen.home@example.de"}},
        {"Ren\xC3\xA9 Fran\xC3\xA7ois", {"rene.francois@example.fr"}},
        {"\xD0\x90\xD0\xBD\xD0\xBD\xD0\xB0 "
         "\xD0\x9F\xD0\xB5\xD1\x82\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB0",
         {"anna.petrova@example.ru"}},
        {"Dr. Chidi Okafor", {"chidi.okafor@example.ng", "chidi@example.com"}},
        {"Z\xC3\xB6\x65 \xE2\x80\x9C\x42ud\xE2\x80\x9D \xE2\x82\xACuro", {"zoe@example.net"}},
        {"S\xC3\xB8ren Kierk\xC3\xA5rd", {"soren@example.dk"}},
        {"Taro Yamada", {"taro@example.jp", "yamada@example.jp"}},
        {"Dr. John Philip Paul Stevenson Jr. M.D.", {"jp.stevenson@example.com"}},
    };
    for (const Person& person : people) {
        SCOPED_TRACE(person.name);
        const AbEntry* entry = byName(*d, person.name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->smtp, person.emails.front());
        EXPECT_EQ(names(*d, d->match(person.name)), std::vector<std::string>{person.name});
        for (const std::string& email : person.emails) {
            EXPECT_EQ(names(*d, d->match(email)), std::vector<std::string>{person.name}) << email;
        }
    }
    // The other FN of a card finds it too.
    EXPECT_EQ(names(*d, d->match("A. Lindqvist")), (std::vector<std::string>{"Astrid Lindqvist"}));
    EXPECT_EQ(names(*d, d->match("\xE5\xB1\xB1\xE7\x94\xB0\xE5\xA4\xAA\xE9\x83\x8E")),
              (std::vector<std::string>{"Taro Yamada"}));

    const AbEntry* club = byName(*d, "Book Club");
    ASSERT_NE(club, nullptr);
    EXPECT_TRUE(club->list);
    EXPECT_EQ(names(*d, club->members),
              (std::vector<std::string>{"Astrid Lindqvist",
                                        "Ms. Siobh\xC3\xA1n M\xC3\xA1ire O'Brien PhD"}));
    EXPECT_EQ(names(*d, d->match("book club")), (std::vector<std::string>{"Book Club"}));
    const AbEntry* lantern = byName(*d, "Project Lantern");
    ASSERT_NE(lantern, nullptr);
    EXPECT_EQ(names(*d, lantern->members),
              (std::vector<std::string>{"Taro Yamada", "Dr. John Philip Paul Stevenson Jr. M.D.",
                                        "contractor@example.org"}));

    std::size_t people_and_groups = 0;
    for (const AbEntry& e : d->entries()) {
        people_and_groups += e.memberOnly ? 0 : 1;
    }
    EXPECT_EQ(people_and_groups, people.size() + 2);
    std::string all;
    for (const std::string& problem : d->problems()) {
        all += problem + "\n";
    }
    ASSERT_EQ(d->problems().size(), 1u) << all;
    EXPECT_NE(d->problems()[0].find("broken-line.vcf: line 3: line skipped: no ':' after the "
                                    "property name and parameters: FN"),
              std::string::npos)
        << d->problems()[0];
}

TEST(Directory, RecognisesEmailAddresses) {
    EXPECT_TRUE(isEmailAddress("a.b+c@example.org"));
    EXPECT_FALSE(isEmailAddress("Ann"));
    EXPECT_FALSE(isEmailAddress("@example.org"));
    EXPECT_FALSE(isEmailAddress("a@"));
    EXPECT_FALSE(isEmailAddress("a@b@c"));
    EXPECT_FALSE(isEmailAddress("Ann <a@b>"));
}

}  // namespace
}  // namespace mb::provider::test
