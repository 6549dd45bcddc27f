// SPDX-License-Identifier: MIT
#include "provider/addressbook/address_book.h"

#include "provider/contacts/directory_test_support.h"
#include "provider/com/provider_test_support.h"

namespace mb::provider::test {
namespace {

const std::string kCards =
    card("FN:Ann Lee\r\nEMAIL:ann@example.org\r\nUID:ann\r\n") +
    card("FN:Bob\r\nEMAIL;PREF=1:bob@example.org\r\n") +
    card("FN:Carol King\r\nEMAIL:carol@example.org\r\n") +
    card("FN:Dan One\r\nEMAIL:dan1@example.org\r\n") +
    card("FN:Dan Two\r\nEMAIL:dan2@example.org\r\n") +
    card("FN:Eve Exchange\r\nX-MAILBROKER-X500:/o=Org/cn=eve\r\nEMAIL:eve@example.org\r\n") +
    card("KIND:group\r\nFN:Team\r\nMEMBER:urn:uuid:ann\r\n");

class AddrBookTest : public ProviderTest {
  protected:
    void SetUp() override {
        ProviderTest::SetUp();
        unsetenv("MAILBROKER_UI_SCRIPT");
        writeProfiles("[profile p]\ndefault = true\naddress_books = " +
                      cards_.write("book.vcf", kCards) + "\n");
    }
    void TearDown() override {
        if (book_ != nullptr) {
            book_->Release();
        }
        if (session_ != nullptr) {
            session_->Release();
        }
        unsetenv("MAILBROKER_UI_SCRIPT");
        ProviderTest::TearDown();
    }
    // Logs on (reading the UI script, if any) and opens the address book as
    // the Broker does.
    void open(const std::string& script = {}) {
        if (!script.empty()) {
            setenv("MAILBROKER_UI_SCRIPT", cards_.write("script.txt", script).c_str(), 1);
        }
        ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x63, &session_), S_OK);
        ASSERT_EQ(session_->OpenAddressBook(0, nullptr, 0, &book_), S_OK);
        baseline_ = liveRootBuffers();
    }

    CardFolder cards_;
    IMAPISession* session_ = nullptr;
    IAddrBook* book_ = nullptr;
    unsigned long baseline_ = 0;
};

TEST_F(AddrBookTest, ResolvesUniqueNamesAndKeepsTheRecipientType) {
    open();
    {
        BrokerList list({{MAPI_TO, "Ann Lee"},
                         {MAPI_TO, "bob@EXAMPLE.org"},
                         {MAPI_CC, " carol"},
                         {MAPI_BCC, "/o=Org/cn=eve"},
                         {MAPI_BCC, "team"}});
        ASSERT_EQ(book_->ResolveName(0, 0, nullptr, list.get()), S_OK);
        EXPECT_EQ(text(list[0], PR_DISPLAY_NAME_A), "Ann Lee");
        EXPECT_EQ(text(list[0], PR_ADDRTYPE_A), "SMTP");
        EXPECT_EQ(text(list[0], PR_EMAIL_ADDRESS_A), "ann@example.org");
        EXPECT_EQ(text(list[0], PR_SMTP_ADDRESS_A), "ann@example.org");
        EXPECT_EQ(number(list[0], PR_OBJECT_TYPE), static_cast<LONG>(MAPI_MAILUSER));
        EXPECT_EQ(number(list[0], PR_RECIPIENT_TYPE), static_cast<LONG>(MAPI_TO));
        EXPECT_NE(value(list[0], PR_ENTRYID), nullptr);
        EXPECT_EQ(text(list[1], PR_DISPLAY_NAME_A), "Bob");
        EXPECT_EQ(text(list[2], PR_DISPLAY_NAME_A), "Carol King");
        EXPECT_EQ(number(list[2], PR_RECIPIENT_TYPE), static_cast<LONG>(MAPI_CC));
        EXPECT_EQ(text(list[3], PR_ADDRTYPE_A), "EX");
        EXPECT_EQ(text(list[3], PR_EMAIL_ADDRESS_A), "/o=Org/cn=eve");
        EXPECT_EQ(text(list[3], PR_SMTP_ADDRESS_A), "eve@example.org");
        EXPECT_EQ(number(list[3], PR_RECIPIENT_TYPE), static_cast<LONG>(MAPI_BCC));
        EXPECT_EQ(number(list[4], PR_OBJECT_TYPE), static_cast<LONG>(MAPI_DISTLIST));
        // Resolving again leaves resolved entries as they are.
        const SPropValue* before = list[0].rgPropVals;
        ASSERT_EQ(book_->ResolveName(0, 0, nullptr, list.get()), S_OK);
        EXPECT_EQ(list[0].rgPropVals, before);
    }
    EXPECT_EQ(liveRootBuffers(), baseline_);  // old arrays freed, new ones freed by the caller
}

TEST_F(AddrBookTest, AmbiguousAndUnknownNamesFailWithoutADialogAndChangeNothing) {
    open();
    BrokerList ambiguous({{MAPI_TO, "Ann Lee"}, {MAPI_TO, "Dan"}});
    EXPECT_EQ(book_->ResolveName(0, 0, nullptr, ambiguous.get()), MAPI_E_AMBIGUOUS_RECIP);
    EXPECT_EQ(value(ambiguous[0], PR_ENTRYID), nullptr);  // not even the good one
    EXPECT_EQ(text(ambiguous[1], PR_DISPLAY_NAME_A), "Dan");
    BrokerList unknown({{MAPI_TO, "Zed"}});
    EXPECT_EQ(book_->ResolveName(0, 0, nullptr, unknown.get()), MAPI_E_NOT_FOUND);
    // With MAPI_DIALOG and no script the user cancels.
    EXPECT_EQ(book_->ResolveName(0, MAPI_DIALOG, nullptr, unknown.get()), MAPI_E_USER_CANCEL);
    EXPECT_EQ(book_->ResolveName(0, MAPI_UNICODE, nullptr, unknown.get()), MAPI_E_BAD_CHARWIDTH);
    EXPECT_EQ(book_->ResolveName(0, 0, nullptr, nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST_F(AddrBookTest, UnknownAddressesBecomeOneOffs) {
    open();
    BrokerList list({{MAPI_TO, "guest@example.org"},
                     {MAPI_CC, "\"Guest, Two\" <two@example.org>"},
                     {MAPI_CC, "Robert <bob@example.org>"},
                     {MAPI_CC, " \"Doe \\\"JD\\\", John\"  <jd@example.org> "}});
    ASSERT_EQ(book_->ResolveName(0, 0, nullptr, list.get()), S_OK);
    EXPECT_EQ(text(list[0], PR_ADDRTYPE_A), "SMTP");
    EXPECT_EQ(text(list[0], PR_SMTP_ADDRESS_A), "guest@example.org");
    EXPECT_EQ(text(list[1], PR_DISPLAY_NAME_A), "Guest, Two");
    EXPECT_EQ(text(list[1], PR_EMAIL_ADDRESS_A), "two@example.org");
    EXPECT_EQ(text(list[2], PR_DISPLAY_NAME_A), "Bob");  // a known address keeps its card
    EXPECT_EQ(text(list[3], PR_DISPLAY_NAME_A), "Doe \"JD\", John");
    EXPECT_EQ(text(list[3], PR_SMTP_ADDRESS_A), "jd@example.org");
    const SPropValue* id = value(list[1], PR_ENTRYID);
    ASSERT_NE(id, nullptr);
    ULONG type = 0;
    IUnknown* user = nullptr;
    ASSERT_EQ(book_->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb),
                               nullptr, 0, &type, &user),
              S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_MAILUSER));
    user->Release();
}

TEST_F(AddrBookTest, EntriesWithoutValuesAreLeftAlone) {
    open();
    BrokerList list({{MAPI_CC, "Bob"}}, 3);  // "Bob;" plus an empty "bcc"
    ASSERT_EQ(book_->ResolveName(0, 0, nullptr, list.get()), S_OK);
    EXPECT_EQ(text(list[0], PR_DISPLAY_NAME_A), "Bob");
    EXPECT_EQ(list[1].cValues, 0u);
    EXPECT_EQ(list[2].rgPropVals, nullptr);
    BrokerList empty({});
    EXPECT_EQ(book_->ResolveName(0, 0, nullptr, empty.get()), S_OK);
}

TEST_F(AddrBookTest, AWideNameResolvesToo) {
    open();
    BrokerList list({{MAPI_TO, ""}});
    WCHAR name[] = u"carol king";
    list[0].rgPropVals[0].ulPropTag = PR_DISPLAY_NAME_W;
    list[0].rgPropVals[0].Value.lpszW = name;
    ASSERT_EQ(book_->ResolveName(0, 0, nullptr, list.get()), S_OK);
    EXPECT_EQ(text(list[0], PR_DISPLAY_NAME_A), "Carol King");
    EXPECT_EQ(number(list[0], PR_RECIPIENT_TYPE), static_cast<LONG>(MAPI_TO));
}

TEST_F(AddrBookTest, TheDialogPicksAddsOrCancels) {
    open("resolve pick 2\nresolve address zed@example.org Zed\nresolve cancel\n");
    BrokerList list({{MAPI_TO, "Dan"}, {MAPI_TO, "Zed"}});
    ASSERT_EQ(book_->ResolveName(0, MAPI_DIALOG, nullptr, list.get()), S_OK);
    EXPECT_EQ(text(list[0], PR_DISPLAY_NAME_A), "Dan Two");
    EXPECT_EQ(text(list[1], PR_DISPLAY_NAME_A), "Zed");
    EXPECT_EQ(text(list[1], PR_EMAIL_ADDRESS_A), "zed@example.org");
    BrokerList again({{MAPI_TO, "Dan"}});
    EXPECT_EQ(book_->ResolveName(0, MAPI_DIALOG, nullptr, again.get()), MAPI_E_USER_CANCEL);
}

class AddressDialog : public AddrBookTest {
  protected:
    // The ADRPARM the Broker passes for the wells it has.
    HRESULT show(const std::vector<ULONG>& wells, LPADRLIST& list, const char* caption = nullptr) {
        ADRPARM params{};
        params.ulFlags = DIALOG_MODAL | AB_RESOLVE;
        params.lpszCaption = reinterpret_cast<LPMAPITSTR>(const_cast<char*>(caption));
        params.cDestFields = static_cast<ULONG>(wells.size());
        params.lpulDestComps = const_cast<ULONG*>(wells.data());
        ULONG_PTR parent = 0;
        return book_->Address(&parent, &params, &list);
    }
};

TEST_F(AddressDialog, TheScriptFillsTheWells) {
    open("address bcc: Ann Lee; new@example.org | to: Team\naddress keep\n");
    {
        BrokerList list({{MAPI_TO, "Bob"}});
        ASSERT_EQ(book_->ResolveName(0, 0, nullptr, list.get()), S_OK);
        ASSERT_EQ(show({MAPI_TO, MAPI_BCC}, list.get()), S_OK);
        ASSERT_EQ(list.get()->cEntries, 3u);
        EXPECT_EQ(text(list[0], PR_DISPLAY_NAME_A), "Team");
        EXPECT_EQ(number(list[0], PR_RECIPIENT_TYPE), static_cast<LONG>(MAPI_TO));
        EXPECT_EQ(number(list[0], PR_OBJECT_TYPE), static_cast<LONG>(MAPI_DISTLIST));
        EXPECT_EQ(text(list[1], PR_DISPLAY_NAME_A), "Ann Lee");
        EXPECT_EQ(number(list[1], PR_RECIPIENT_TYPE), static_cast<LONG>(MAPI_BCC));
        EXPECT_EQ(text(list[2], PR_SMTP_ADDRESS_A), "new@example.org");
        EXPECT_EQ(number(list[2], PR_RECIPIENT_TYPE), static_cast<LONG>(MAPI_BCC));
        // "keep": the same recipients come back in a new list.
        ASSERT_EQ(show({MAPI_TO, MAPI_BCC}, list.get(), "Pick"), S_OK);
        ASSERT_EQ(list.get()->cEntries, 3u);
        EXPECT_EQ(text(list[2], PR_EMAIL_ADDRESS_A), "new@example.org");
    }
    EXPECT_EQ(liveRootBuffers(), baseline_);
}

TEST_F(AddressDialog, CancellingLeavesTheListAsItWas) {
    open("address cancel\naddress cc: Nobody Known\n");
    BrokerList list({{MAPI_CC, "Bob"}});
    const LPADRLIST before = list.get();
    EXPECT_EQ(show({MAPI_CC}, list.get()), MAPI_E_USER_CANCEL);
    EXPECT_EQ(show({MAPI_CC}, list.get()), MAPI_E_NOT_FOUND);
    EXPECT_EQ(list.get(), before);
    EXPECT_EQ(text(list[0], PR_DISPLAY_NAME_A), "Bob");
    const ULONG bad[] = {7};
    ADRPARM params{};
    params.cDestFields = 1;
    params.lpulDestComps = const_cast<ULONG*>(bad);
    EXPECT_EQ(book_->Address(nullptr, &params, &list.get()), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(book_->Address(nullptr, nullptr, &list.get()), MAPI_E_INVALID_PARAMETER);
}

}  // namespace
}  // namespace mb::provider::test
