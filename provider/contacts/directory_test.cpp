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
