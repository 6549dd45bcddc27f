// SPDX-License-Identifier: MIT
#include "commands/recipients.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/temp_dir_test_support.h"
#include "commands/fakes/fake_mapi_fixture.h"
#include "commands/mapi_ptr.h"
#include "commands/mapi_session.h"

namespace {

// An address book that records each ResolveName: the flags and every entry
// as "type:name", "-" for an entry without values.
class RecordingBook final : public IAddrBook {
  public:
    std::vector<ULONG> flags;
    std::vector<std::vector<std::string>> lists;
    std::vector<HRESULT> results;  // one per call; S_OK past the end

    HRESULT STDMETHODCALLTYPE ResolveName(ULONG_PTR, ULONG ulFlags, LPMAPITSTR,
                                          LPADRLIST list) override {
        flags.push_back(ulFlags);
        std::vector<std::string> entries;
        const ADRENTRY* entry = list->aEntries;
        for (ULONG i = 0; i < list->cEntries; ++i) {
            const SPropValue* v = entry[i].rgPropVals;
            if (v == nullptr) {
                EXPECT_EQ(entry[i].cValues, 0u) << "an entry without values counts none";
            }
            entries.push_back(v == nullptr ? "-" : std::to_string(v[1].Value.l) + ":" +
                                                       v[0].Value.lpszA);
        }
        lists.push_back(entries);
        return lists.size() <= results.size() ? results[lists.size() - 1] : S_OK;
    }

    // Nothing else is called.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveChanges(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPropList(ULONG, LPSPropTagArray*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS,
                                     LPCIID, LPVOID, ULONG, LPSPropProblemArray*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID,
                                        ULONG, LPSPropProblemArray*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*,
                                              LPMAPINAMEID**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG,
                                              LPSPropTagArray*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*,
                                        LPUNKNOWN*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG,
                                              ULONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK,
                                     ULONG_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateOneOff(LPMAPITSTR, LPMAPITSTR, LPMAPITSTR, ULONG, ULONG*,
                                           LPENTRYID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID,
                                       ULONG*, LPENTRYID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Address(ULONG_PTR*, LPADRPARM, LPADRLIST*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Details(ULONG_PTR*, LPFNDISMISS, LPVOID, ULONG, LPENTRYID,
                                      LPFNBUTTON, LPVOID, LPMAPITSTR, ULONG) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RecipOptions(ULONG_PTR, ULONG, LPADRENTRY) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueryDefaultRecipOpt(LPSTR, ULONG, ULONG*, LPSPropValue*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPAB(ULONG*, LPENTRYID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPAB(ULONG, LPENTRYID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultDir(ULONG*, LPENTRYID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultDir(ULONG, LPENTRYID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSearchPath(ULONG, LPSRowSet*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSearchPath(ULONG, LPSRowSet) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PrepareRecips(ULONG, LPSPropTagArray, LPADRLIST) override {
        return E_NOTIMPL;
    }
};

using Entries = std::vector<std::string>;

class RecipientsTest : public FakeMapiTest {
  protected:
#ifdef _WIN32
    // The real registry of the user (Wine's prefix in CI): the value is
    // removed before and after each test, so runs do not see each other's.
    static constexpr const wchar_t* kKey = L"Software\\Varnek\\Varnek Pellion\\10.0\\Sendmail";
    static void removeValue() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"bRemoveCommaDelimiter");
            RegCloseKey(key);
        }
    }
    void SetUp() override {
        FakeMapiTest::SetUp();
        removeValue();
    }
    void TearDown() override {
        removeValue();
        FakeMapiTest::TearDown();
    }
    void commaOff() {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        const DWORD one = 1;
        EXPECT_EQ(RegSetValueExW(key, L"bRemoveCommaDelimiter", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&one), sizeof one),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
#else
    void SetUp() override {
        FakeMapiTest::SetUp();
        ASSERT_EQ(setenv("XDG_CONFIG_HOME", config_.c_str(), 1), 0);
    }
    void commaOff() {
        std::filesystem::create_directories(config_ + "/winpal");
        std::ofstream(config_ + "/winpal/user.reg")
            << "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_CURRENT_USER\\Software\\Varnek\\Varnek Pellion\\10.0\\Sendmail]\n"
               "\"bRemoveCommaDelimiter\"=dword:00000001\n";
    }
#endif
    // Resolves with all three slots passed (null text: a slot without text).
    Entries resolve(const char* to, const char* cc, const char* bcc, bool allowDialog = true) {
        RecipientSlot slots[] = {RecipientSlot::fromText(to), RecipientSlot::fromText(cc),
                                 RecipientSlot::fromText(bcc)};
        MapiAddressList list(session_.allocator(),
                             resolveRecipients(session_, &book_, 0, &slots[0], &slots[1],
                                               &slots[2], allowDialog));
        EXPECT_NE(list.get(), nullptr);
        return book_.lists.empty() ? Entries{"not resolved"} : book_.lists.back();
    }

    mb::test::TempDir temp_{"recipients"};
    std::string config_ = temp_.path();
    MapiSession session_{ParamMap{}};
    RecordingBook book_;
};

TEST_F(RecipientsTest, CommaSplitsUnlessTheSettingTurnsItOff) {
    EXPECT_EQ(resolve("alpha;beta,gamma", nullptr, nullptr), (Entries{"1:alpha", "1:beta", "1:gamma"}));
    EXPECT_EQ(readSendmailFlag(WLIT("bRemoveCommaDelimiter")), false);
    commaOff();
    EXPECT_EQ(readSendmailFlag(WLIT("bRemoveCommaDelimiter")), true);
    EXPECT_EQ(resolve("alpha;beta,gamma", nullptr, nullptr), (Entries{"1:alpha", "1:beta,gamma"}));
    EXPECT_EQ(resolve("alpha, beta", nullptr, nullptr), (Entries{"1:alpha, beta"}));
}

TEST_F(RecipientsTest, QuotedNamesAndAddressesKeepTheirSeparatorsWhateverTheSetting) {
    EXPECT_EQ(
        resolve("\"Doe, John\" <jd@example.org>", "x;<a;b@example.org>", nullptr),
        (Entries{"1:\"Doe, John\" <jd@example.org>", "2:x", "2:<a;b@example.org>", "-", "-"}));
    EXPECT_EQ(resolve("O\"Brien, ann", nullptr, nullptr), (Entries{"1:O\"Brien", "1: ann"}))
        << "a stray quote protects nothing";
    commaOff();
    EXPECT_EQ(resolve("\"Doe; John\" <jd@example.org>;ann, bob", nullptr, nullptr),
              (Entries{"1:\"Doe; John\" <jd@example.org>", "1:ann, bob", "-"}));
}

TEST_F(RecipientsTest, CountIsAnUpperBoundAndEmptyTextsCount) {
    EXPECT_EQ(resolve("alpha, beta", "x;", ""), (Entries{"1:alpha", "1: beta", "2:x", "-", "-"}));
    EXPECT_EQ(resolve("\n;;a\nb;;", nullptr, nullptr), (Entries{"1:a", "1:b", "-", "-", "-", "-", "-"}));
    EXPECT_EQ(resolve(nullptr, nullptr, nullptr), Entries{});
    EXPECT_EQ(book_.flags, (std::vector<ULONG>{MAPI_DIALOG, MAPI_DIALOG, MAPI_DIALOG}));
}

TEST_F(RecipientsTest, SilentFailureIsRetriedWithTheDialog) {
    book_.results = {MAPI_E_AMBIGUOUS_RECIP, MAPI_E_USER_CANCEL};
    RecipientSlot to = RecipientSlot::fromText("alpha;beta");
    EXPECT_EQ(resolveRecipients(session_, &book_, 0, &to, nullptr, nullptr, false), nullptr);
    EXPECT_EQ(book_.flags, (std::vector<ULONG>{0, MAPI_DIALOG}));
    EXPECT_EQ(session_.status(), MAPI_E_USER_CANCEL);
    EXPECT_STREQ(to.chars(), "alpha") << "the text stays split";
    EXPECT_EQ(state_->allocateCalls, state_->freeCalls) << "a failed list is freed";
}

TEST_F(RecipientsTest, NoSlotPassedResolvesNothing) {
    session_.setStatus(7);
    EXPECT_EQ(resolveRecipients(session_, &book_, 0, nullptr, nullptr, nullptr, true), nullptr);
    EXPECT_TRUE(book_.flags.empty());
    EXPECT_EQ(session_.status(), 7);
}

TEST_F(RecipientsTest, EntryWithoutValuesStillGoesToResolution) {
    // The list is the first allocation, the first name's values the second.
    state_->failAllocation = state_->allocateCalls + 2;
    EXPECT_EQ(resolve("alpha;beta", nullptr, nullptr), (Entries{"-", "1:beta"}));
    state_->failAllocation = state_->allocateCalls + 1;
    RecipientSlot to = RecipientSlot::fromText("alpha");
    EXPECT_EQ(resolveRecipients(session_, &book_, 0, &to, nullptr, nullptr, true), nullptr);
    EXPECT_EQ(session_.status(), MAPI_E_NOT_ENOUGH_MEMORY);
}

}  // namespace
