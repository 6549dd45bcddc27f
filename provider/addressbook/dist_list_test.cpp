// SPDX-License-Identifier: MIT
#include "provider/addressbook/dist_list.h"

#include "provider/contacts/directory_test_support.h"
#include "provider/addressbook/address_book.h"
#include "provider/com/provider_test_support.h"

namespace mb::provider::test {
namespace {

// The Broker's expansion of one entry into addresses: lists opened through
// the address book, members read 100 rows at a time, nesting cut at 25.
class Expander {
  public:
    explicit Expander(IAddrBook* book) : book_(book) {}

    void append(const SRow& row, std::string& text) {
        const ADRENTRY entry{0, row.cValues, row.lpProps};
        if (number(entry, PR_OBJECT_TYPE) == static_cast<LONG>(MAPI_DISTLIST)) {
            if (depth_ >= 25) {
                return;
            }
            ++depth_;
            expand(entry, text);
            --depth_;
            return;
        }
        const std::string type = text8(entry, PR_ADDRTYPE_A);
        std::string address = type == "SMTP" ? text8(entry, PR_EMAIL_ADDRESS_A)
                              : type == "EX" ? exchangeToSmtp(text8(entry, PR_EMAIL_ADDRESS_A))
                                             : text8(entry, PR_DISPLAY_NAME_A);
        if (!address.empty()) {
            text += (text.empty() ? "" : ";") + address;
        }
    }

    int batches = 0;

  private:
    static std::string text8(const ADRENTRY& entry, ULONG tag) {
        const SPropValue* v = value(entry, tag);
        return v != nullptr && v->Value.lpszA != nullptr ? v->Value.lpszA : "";
    }

    void expand(const ADRENTRY& entry, std::string& text) {
        const SPropValue* id = value(entry, PR_ENTRYID);
        if (id == nullptr) {
            return;
        }
        ULONG type = 0;
        IUnknown* unknown = nullptr;
        if (FAILED(book_->OpenEntry(id->Value.bin.cb,
                                    reinterpret_cast<LPENTRYID>(id->Value.bin.lpb), nullptr, 0,
                                    &type, &unknown))) {
            return;
        }
        if (type != MAPI_DISTLIST) {
            unknown->Release();
            return;
        }
        auto* list = static_cast<IDistList*>(unknown);
        IMAPITable* table = nullptr;
        if (SUCCEEDED(list->GetContentsTable(0, &table))) {
            std::string members;
            LPSRowSet rows = nullptr;
            while (SUCCEEDED(table->QueryRows(100, 0, &rows)) && rows != nullptr &&
                   rows->cRows > 0) {
                ++batches;
                for (ULONG i = 0; i < rows->cRows; ++i) {
                    append(rows->aRow[i], members);
                }
                BrokerList::free(reinterpret_cast<LPADRLIST>(rows));
                rows = nullptr;
            }
            BrokerList::free(reinterpret_cast<LPADRLIST>(rows));
            table->Release();
            if (!members.empty()) {
                text += (text.empty() ? "" : ";") + members;
            }
        }
        list->Release();
    }

    // Resolves the X500 address and takes the SMTP address MAPI offers.
    std::string exchangeToSmtp(const std::string& x500) {
        BrokerList list({{MAPI_TO, x500}});
        if (FAILED(book_->ResolveName(0, 0, nullptr, list.get()))) {
            return {};
        }
        const SPropValue* smtp = value(list[0], PR_SMTP_ADDRESS_A);
        return smtp != nullptr ? smtp->Value.lpszA : "";
    }

    IAddrBook* book_;
    int depth_ = 0;
};

class DistListTest : public ProviderTest {
  protected:
    void TearDown() override {
        if (book_ != nullptr) {
            book_->Release();
        }
        if (session_ != nullptr) {
            session_->Release();
        }
        ProviderTest::TearDown();
    }
    void open(const std::string& cards) {
        writeProfiles("[profile p]\ndefault = true\naddress_books = " +
                      folder_.write("book.vcf", cards) + "\n");
        ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x63, &session_), S_OK);
        ASSERT_EQ(session_->OpenAddressBook(0, nullptr, 0, &book_), S_OK);
    }
    // Resolves names as the Broker does and expands each entry.
    std::vector<std::string> expand(const std::vector<std::string>& names, Expander& expander) {
        std::vector<std::pair<ULONG, std::string>> entries;
        for (const std::string& name : names) {
            entries.emplace_back(MAPI_TO, name);
        }
        BrokerList list(entries);
        EXPECT_EQ(book_->ResolveName(0, 0, nullptr, list.get()), S_OK);
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const SRow row{0, list[i].cValues, list[i].rgPropVals};
            texts.emplace_back();
            expander.append(row, texts.back());
        }
        return texts;
    }

    CardFolder folder_;
    IMAPISession* session_ = nullptr;
    IAddrBook* book_ = nullptr;
};

TEST_F(DistListTest, ANestedChainIsCutAtTheTwentySixthList) {
    std::string cards;
    for (int i = 1; i <= 26; ++i) {
        std::vector<std::string> members = {"mailto:m" + std::to_string(i) + "@example.org"};
        if (i < 26) {
            members.push_back("urn:uuid:L" + std::to_string(i + 1));
        }
        cards += group("L" + std::to_string(i), members);
    }
    cards += group("Other", {"mailto:o@example.org"});
    open(cards);
    Expander expander(book_);
    const unsigned long before = liveRootBuffers();
    const std::vector<std::string> texts = expand({"L1", "Other"}, expander);
    std::string want;
    for (int i = 1; i <= 25; ++i) {
        want += (i > 1 ? ";m" : "m") + std::to_string(i) + "@example.org";
    }
    EXPECT_EQ(texts[0], want);
    EXPECT_EQ(texts[1], "o@example.org");
    EXPECT_EQ(liveRootBuffers(), before);
}

TEST_F(DistListTest, ACycleEndsAtTheDepthLimit) {
    open(group("A", {"mailto:a@example.org", "urn:uuid:B"}) +
         group("B", {"mailto:b@example.org", "urn:uuid:A"}));
    Expander expander(book_);
    const std::string text = expand({"A"}, expander)[0];
    // One address per expansion, 25 expansions deep.
    std::size_t count = 1;
    for (char c : text) {
        count += c == ';' ? 1 : 0;
    }
    EXPECT_EQ(count, 25u);
    EXPECT_EQ(text.rfind("a@example.org;b@example.org;", 0), 0u);
}

TEST_F(DistListTest, MembersComeInBatchesAndExchangeMembersAsSmtp) {
    std::string cards =
        card("FN:Eve\r\nUID:eve\r\nX-MAILBROKER-X500:/o=Org/cn=eve\r\nEMAIL:eve@example.org\r\n");
    std::vector<std::string> members = {"urn:uuid:eve"};
    for (int i = 0; i < 249; ++i) {
        members.push_back("mailto:u" + std::to_string(i) + "@example.org");
    }
    open(cards + group("Big", members));
    Expander expander(book_);
    const std::string text = expand({"Big"}, expander)[0];
    EXPECT_EQ(expander.batches, 3);
    EXPECT_EQ(text.rfind("eve@example.org;u0@example.org;", 0), 0u);
    EXPECT_NE(text.find(";u248@example.org"), std::string::npos);
}

TEST_F(DistListTest, ContentsTableOffersTheBrokersColumns) {
    open(card("FN:Ann\r\nUID:ann\r\nEMAIL:ann@example.org\r\n") + group("T", {"urn:uuid:ann"}));
    BrokerList list({{MAPI_TO, "T"}});
    ASSERT_EQ(book_->ResolveName(0, 0, nullptr, list.get()), S_OK);
    const SPropValue* id = value(list[0], PR_ENTRYID);
    ASSERT_NE(id, nullptr);
    ULONG type = 0;
    IUnknown* unknown = nullptr;
    const auto entryId = reinterpret_cast<LPENTRYID>(id->Value.bin.lpb);
    EXPECT_EQ(book_->OpenEntry(id->Value.bin.cb, entryId, &IID_IMailUser, 0, &type, &unknown),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    ASSERT_EQ(book_->OpenEntry(id->Value.bin.cb, entryId, &IID_IDistList, 0, &type, &unknown),
              S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_DISTLIST));
    auto* dl = static_cast<IDistList*>(unknown);
    IMAPITable* table = nullptr;
    EXPECT_EQ(dl->GetContentsTable(MAPI_UNICODE, &table), MAPI_E_BAD_CHARWIDTH);
    ASSERT_EQ(dl->GetContentsTable(0, &table), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table->QueryRows(10, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    const ADRENTRY member{0, rows->aRow[0].cValues, rows->aRow[0].lpProps};
    EXPECT_EQ(text(member, PR_DISPLAY_NAME_A), "Ann");
    EXPECT_EQ(text(member, PR_ADDRTYPE_A), "SMTP");
    EXPECT_EQ(text(member, PR_EMAIL_ADDRESS_A), "ann@example.org");
    EXPECT_EQ(number(member, PR_OBJECT_TYPE), static_cast<LONG>(MAPI_MAILUSER));
    EXPECT_NE(value(member, PR_ENTRYID), nullptr);
    BrokerList::free(reinterpret_cast<LPADRLIST>(rows));
    table->Release();
    dl->Release();

    std::vector<BYTE> garbage(id->Value.bin.lpb, id->Value.bin.lpb + id->Value.bin.cb);
    garbage.back() ^= 0xFF;
    EXPECT_EQ(
        book_->OpenEntry(static_cast<ULONG>(garbage.size()),
                         reinterpret_cast<LPENTRYID>(garbage.data()), nullptr, 0, &type, &unknown),
        MAPI_E_UNKNOWN_ENTRYID);
    EXPECT_EQ(unknown, nullptr);
}

}  // namespace
}  // namespace mb::provider::test
