// SPDX-License-Identifier: MIT
#include "provider/prof_admin.h"

#include <string>

#include "provider/com/allocation.h"
#include "provider/com/provider_test_support.h"

namespace mb::provider::test {
namespace {

using ProfileTable = ProviderTest;

// The Broker's AutoCompleteFileName lookup, call for call: the display name
// of the default profile, or fallback when any step fails or finds nothing.
// withColumns also sets the columns first, as a careful caller may.
std::string autoCompleteDisplayName(const std::string& fallback, bool withColumns) {
    std::string value = fallback;
    IProfAdmin* admin = nullptr;
    IMAPITable* table = nullptr;
    SRowSet* rows = nullptr;
    SPropValue isDefault{};
    isDefault.ulPropTag = PR_DEFAULT_PROFILE;
    isDefault.Value.b = 1;
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty = {RELOP_EQ, PR_DEFAULT_PROFILE, &isDefault};
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE}};
    if (MAPIAdminProfiles(0, &admin) >= 0 && admin != nullptr &&
        admin->GetProfileTable(0, &table) >= 0 && table != nullptr &&
        (!withColumns || table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0) >= 0) &&
        table->Restrict(&restriction, TBL_BATCH) >= 0 &&
        table->FindRow(&restriction, BOOKMARK_BEGINNING, 0) >= 0 &&
        table->QueryRows(1, 0, &rows) >= 0 && rows != nullptr && rows->cRows > 0) {
        const char* name = rows->aRow[0].lpProps[0].Value.lpszA;
        if (name != nullptr && name[0] != '\0') {
            value = name;
        }
    }
    freeRows(rows);
    if (table != nullptr)
        table->Release();
    if (admin != nullptr)
        admin->Release();
    return value;
}

TEST_F(ProfileTable, BuiltInDefaultIsFound) {
    unsigned long roots = liveRootBuffers();
    EXPECT_EQ(autoCompleteDisplayName("from request", false), "Default");
    EXPECT_EQ(autoCompleteDisplayName("from request", true), "Default");
    EXPECT_EQ(liveRootBuffers(), roots);
}

TEST_F(ProfileTable, DefaultAmongSeveral) {
    writeProfiles(
        "[profile home]\n[profile work]\ndisplay_name = Work Mail\ndefault = true\n"
        "[profile old]\n");
    EXPECT_EQ(autoCompleteDisplayName("from request", false), "Work Mail");
    EXPECT_EQ(autoCompleteDisplayName("from request", true), "Work Mail");
}

TEST_F(ProfileTable, NoDefaultFallsBack) {
    writeProfiles("[profile home]\n[profile work]\n");
    EXPECT_EQ(autoCompleteDisplayName("from request", false), "from request");
    EXPECT_EQ(autoCompleteDisplayName("", true), "");
}

TEST_F(ProfileTable, RowsAndColumns) {
    writeProfiles("[profile home]\n[profile work]\ndisplay_name = Work Mail\ndefault = true\n");
    IProfAdmin* admin = nullptr;
    ASSERT_EQ(MAPIAdminProfiles(0, &admin), S_OK);
    IMAPITable* table = nullptr;
    ASSERT_EQ(admin->GetProfileTable(0, &table), S_OK);
    SRowSet* rows = nullptr;
    ASSERT_EQ(table->QueryRows(10, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 2u);
    ASSERT_EQ(rows->aRow[0].cValues, 2u);
    EXPECT_EQ(rows->aRow[0].lpProps[0].ulPropTag, PR_DISPLAY_NAME_A);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "home");
    EXPECT_EQ(rows->aRow[0].lpProps[1].ulPropTag, PR_DEFAULT_PROFILE);
    EXPECT_EQ(rows->aRow[0].lpProps[1].Value.b, 0);
    EXPECT_STREQ(rowAt(rows, 1).lpProps[0].Value.lpszA, "Work Mail");
    EXPECT_EQ(rowAt(rows, 1).lpProps[1].Value.b, 1);
    freeRows(rows);
    EXPECT_EQ(table->Release(), 0u);

    EXPECT_EQ(admin->GetProfileTable(MAPI_UNICODE, &table), MAPI_E_BAD_CHARWIDTH);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(admin->GetProfileTable(0, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(admin->CreateProfile(nullptr, nullptr, 0, 0), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(admin->SetDefaultProfile(nullptr, 0), MAPI_E_NO_SUPPORT);
    void* iface = nullptr;
    ASSERT_EQ(admin->QueryInterface(IID_IProfAdmin, &iface), S_OK);
    EXPECT_EQ(static_cast<IProfAdmin*>(iface)->Release(), 1u);
    EXPECT_EQ(admin->Release(), 0u);
}

TEST_F(ProfileTable, BrokenFileAndMissingInitialisation) {
    writeProfiles("[profile home]\nno equals here\n");
    IProfAdmin* admin = reinterpret_cast<IProfAdmin*>(0x1);
    EXPECT_EQ(MAPIAdminProfiles(0, &admin), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(admin, nullptr);
    EXPECT_EQ(autoCompleteDisplayName("from request", false), "from request");
    EXPECT_EQ(MAPIAdminProfiles(0, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(MAPIAdminProfiles(0x4, &admin), MAPI_E_UNKNOWN_FLAGS);

    MAPIUninitialize();
    EXPECT_EQ(MAPIAdminProfiles(0, &admin), MAPI_E_NOT_INITIALIZED);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);  // for TearDown
}

}  // namespace
}  // namespace mb::provider::test
