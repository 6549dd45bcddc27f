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

TEST_F(Expand, AThousandDeepChainNeedsNoRecursion) {
    std::string cards;
    for (int i = 0; i < 1000; ++i) {
        cards += card("KIND:group\r\nFN:L" + std::to_string(i) + "\r\nUID:l" + std::to_string(i) +
                      "\r\nMEMBER:urn:uuid:l" + std::to_string(i + 1) + "\r\n");
    }
    cards += card("FN:End\r\nUID:l1000\r\nEMAIL:end@example.org\r\n");
    load(cards);
    Expansion e;
    ASSERT_EQ(expand("L0", e), S_OK);
    EXPECT_EQ(addresses(e), (std::vector<std::string>{"end@example.org"}));
}

}  // namespace
}  // namespace mb::provider::test
