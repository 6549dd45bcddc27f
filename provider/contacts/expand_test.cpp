// SPDX-License-Identifier: MIT
#include "provider/contacts/expand.h"

#include "provider/contacts/directory_test_support.h"

namespace mb::provider::test {
namespace {

std::vector<std::string> addresses(const Expansion& e) {
    std::vector<std::string> out;
    for (const SmtpRecipient& r : e.recipients) {
        out.push_back(r.address);
    }
    return out;
}

class Expand : public ::testing::Test {
  protected:
    void load(const std::string& cards) {
        directory_ = Directory::load({folder_.write("b.vcf", cards)});
    }
    HRESULT expand(const std::string& name, Expansion& out) {
        const std::vector<std::size_t> found = directory_->match(name);
        EXPECT_EQ(found.size(), 1u) << name;
        const std::vector<BYTE>& id = directory_->entries()[found.at(0)].entryId;
        return expandForDelivery(*directory_, id.data(), static_cast<ULONG>(id.size()), out);
    }
    CardFolder folder_;
    std::shared_ptr<const Directory> directory_;
};

TEST_F(Expand, NestedListsAndCyclesGiveEachAddressOnce) {
    load(card("FN:Ann\r\nUID:ann\r\nEMAIL:ann@example.org\r\n") +
         card("FN:Eve\r\nUID:eve\r\nX-MAILBROKER-X500:/o=O/cn=eve\r\nEMAIL:eve@example.org\r\n") +
         card("FN:Xavier\r\nUID:x\r\nX-MAILBROKER-X500:/o=O/cn=x\r\n") +
         card("KIND:group\r\nFN:Outer\r\nUID:outer\r\nMEMBER:urn:uuid:inner\r\n"
              "MEMBER:mailto:ANN@example.org\r\nMEMBER:urn:uuid:x\r\n") +
         card("KIND:group\r\nFN:Inner\r\nUID:inner\r\nMEMBER:urn:uuid:ann\r\n"
              "MEMBER:urn:uuid:outer\r\nMEMBER:urn:uuid:eve\r\nMEMBER:mailto:g@example.org\r\n"));
    Expansion e;
    ASSERT_EQ(expand("Outer", e), S_OK);
    EXPECT_EQ(addresses(e),
              (std::vector<std::string>{"ann@example.org", "eve@example.org", "g@example.org"}));
    EXPECT_EQ(e.unreachable, (std::vector<std::string>{"Xavier"}));
    ASSERT_EQ(expand("Eve", e), S_OK);
    EXPECT_EQ(addresses(e), (std::vector<std::string>{"eve@example.org"}));
    const BYTE junk[] = {1, 2, 3};
    EXPECT_EQ(expandForDelivery(*directory_, junk, sizeof junk, e), MAPI_E_UNKNOWN_ENTRYID);
}

// A chain of lists, L0 holding L1 and so on, each list with an address of its own.
std::string chain(int lists) {
    std::string cards;
    for (int i = 0; i < lists; ++i) {
        const std::string n = std::to_string(i);
        cards += card("KIND:group\r\nFN:L" + n + "\r\nUID:l" + n + "\r\nMEMBER:mailto:m" + n +
                      "@example.org\r\nMEMBER:urn:uuid:l" + std::to_string(i + 1) + "\r\n");
    }
    return cards +
           card("FN:End\r\nUID:l" + std::to_string(lists) + "\r\nEMAIL:end@example.org\r\n");
}

std::vector<std::string> chainAddresses(int levels) {
    std::vector<std::string> out;
    for (int i = 0; i < levels; ++i) {
        out.push_back("m" + std::to_string(i) + "@example.org");
    }
    return out;
}

TEST_F(Expand, TwentyFiveLevelsOfListsAreExpandedAndNoDeeper) {
    load(chain(25));
    Expansion e;
    ASSERT_EQ(expand("L0", e), S_OK);
    std::vector<std::string> want = chainAddresses(25);
    want.push_back("end@example.org");
    EXPECT_EQ(addresses(e), want);
    load(chain(26));
    ASSERT_EQ(expand("L0", e), S_OK);
    EXPECT_EQ(addresses(e), chainAddresses(25)) << "the 26th list and what it holds are left out";
}

TEST_F(Expand, AThousandDeepChainNeedsNoRecursion) {
    load(chain(1000));
    Expansion e;
    ASSERT_EQ(expand("L0", e), S_OK);
    EXPECT_EQ(addresses(e), chainAddresses(25));
}

TEST_F(Expand, OneBudgetBoundsTheListsOfAWholeMessage) {
    load(card("KIND:group\r\nFN:Outer\r\nUID:outer\r\nMEMBER:urn:uuid:inner\r\n"
              "MEMBER:mailto:o@example.org\r\n") +
         card("KIND:group\r\nFN:Inner\r\nUID:inner\r\nMEMBER:mailto:i@example.org\r\n"));
    const std::vector<BYTE>& id = directory_->entries()[directory_->match("Outer").at(0)].entryId;
    Expansion e;
    ExpansionBudget budget;
    ASSERT_EQ(expandForDelivery(*directory_, id.data(), static_cast<ULONG>(id.size()), e, budget),
              S_OK);
    EXPECT_EQ(addresses(e), (std::vector<std::string>{"i@example.org", "o@example.org"}));
    EXPECT_EQ(budget.listsOpened, 2u);
    budget.listsOpened = kMaxListsOpened - 1;  // room for the outer list only
    ASSERT_EQ(expandForDelivery(*directory_, id.data(), static_cast<ULONG>(id.size()), e, budget),
              S_OK);
    EXPECT_EQ(addresses(e), (std::vector<std::string>{"o@example.org"}));
    ASSERT_EQ(expandForDelivery(*directory_, id.data(), static_cast<ULONG>(id.size()), e, budget),
              S_OK);
    EXPECT_TRUE(addresses(e).empty());
    EXPECT_EQ(budget.listsOpened, kMaxListsOpened);
}

TEST(MailboxKey, DomainIgnoresCaseAndTheLocalPartKeepsIt) {
    EXPECT_EQ(mailboxKey("Pat@Example.ORG"), "Pat@example.org");
    EXPECT_NE(mailboxKey("Pat@example.org"), mailboxKey("pat@example.org"));
    EXPECT_EQ(mailboxKey("\"a@b\"@X.org"), "\"a@b\"@x.org");
    EXPECT_EQ(mailboxKey("Night Watch"), "Night Watch");
}

TEST_F(Expand, SameMailboxInAnotherDomainCaseIsListedOnce) {
    load(card("FN:Pat\r\nUID:pat\r\nEMAIL:pat@example.org\r\n") +
         card("FN:Pat at work\r\nUID:pat2\r\nEMAIL:pat@EXAMPLE.org\r\n") +
         card("FN:Pat P\r\nUID:pat3\r\nEMAIL:Pat@example.org\r\n") +
         card("KIND:group\r\nFN:Team\r\nUID:team\r\nMEMBER:urn:uuid:pat\r\n"
              "MEMBER:urn:uuid:pat2\r\nMEMBER:urn:uuid:pat3\r\n"));
    Expansion e;
    ASSERT_EQ(expand("Team", e), S_OK);
    EXPECT_EQ(addresses(e), (std::vector<std::string>{"pat@example.org", "Pat@example.org"}));
}

}  // namespace
}  // namespace mb::provider::test
