// SPDX-License-Identifier: MIT
#include "commands/auto_complete.h"

#include <cstring>

#include "commands/mapi_ptr.h"

namespace {

// Only emptiness is judged from the length scan; a longer name is taken whole.
constexpr size_t kNameScan = 256;

void lookUpDefaultProfile(MapiSession& session, KsString& value) {
    LPMAPIADMINPROFILES adminProfiles = session.mapiAdminProfiles();
    if (adminProfiles == nullptr) {
        return;
    }
    MapiRef<IProfAdmin> admin;
    if (adminProfiles(0, admin.out()) < 0 || !admin) {
        return;
    }
    MapiRef<IMAPITable> table;
    if (admin->GetProfileTable(0, table.out()) < 0 || !table) {
        return;
    }
    SPropValue isDefault{};
    isDefault.ulPropTag = PR_DEFAULT_PROFILE;
    isDefault.Value.b = 1;
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_DEFAULT_PROFILE;
    restriction.res.resProperty.lpProp = &isDefault;
    if (table->Restrict(&restriction, TBL_BATCH) < 0 ||
        table->FindRow(&restriction, BOOKMARK_BEGINNING, 0) < 0) {
        return;
    }
    MapiRows rows(session.allocator());
    if (table->QueryRows(1, 0, rows.out()) < 0 || rows.get() == nullptr || rows->cRows == 0) {
        return;
    }
    const SRow& row = rows->aRow[0];
    // The profile table's first column is the 8-bit display name.
    if (row.cValues == 0 || row.lpProps == nullptr ||
        PROP_TYPE(row.lpProps[0].ulPropTag) != PT_STRING8) {
        return;
    }
    const char* name = row.lpProps[0].Value.lpszA;
    if (name == nullptr || strnlen(name, kNameScan) == 0) {
        return;
    }
    KsString found(name);
    found.utf8View();
    value = found;
}

}  // namespace

ParamMap autoCompleteFileName(MapiSession& session) {
    ParamMap result;
    KsString value;
    if (const KsString* given = session.param("displayName")) {
        value = *given;
    }
    try {
        lookUpDefaultProfile(session, value);
    } catch (...) {
        // The request's own name stands.
    }
    result[KsString("displayName")] = value;
    return result;
}
