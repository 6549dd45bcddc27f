// SPDX-License-Identifier: MIT
#include "provider/addressbook/dist_list.h"

#include "provider/addressbook/mail_user.h"
#include "provider/com/table.h"

namespace mb::provider {

DistList* DistList::create(std::shared_ptr<const Directory> directory, const AbEntry& entry) {
    return new DistList(std::move(directory), entry);
}

DistList::DistList(std::shared_ptr<const Directory> directory, const AbEntry& entry)
    : AbProp(entry.properties()), directory_(std::move(directory)), members_(entry.members) {}

const std::vector<ULONG>& DistList::memberColumns() {
    static const std::vector<ULONG> columns = {
        PR_ENTRYID,     PR_DISPLAY_NAME_A, PR_ADDRTYPE_A,    PR_EMAIL_ADDRESS_A,
        PR_OBJECT_TYPE, PR_DISPLAY_TYPE,   PR_SMTP_ADDRESS_A};
    return columns;
}

HRESULT DistList::GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) {
    if (lppTable == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppTable = nullptr;
    if ((ulFlags & MAPI_UNICODE) != 0) {
        return MAPI_E_BAD_CHARWIDTH;  // names are held as 8-bit UTF-8 only
    }
    try {
        std::vector<Row> rows;
        rows.reserve(members_.size());
        for (std::size_t member : members_) {
            rows.push_back(directory_->entries()[member].properties());
        }
        *lppTable = MemoryTable::create(memberColumns(), std::move(rows));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

HRESULT DistList::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG,
                            ULONG* lpulObjType, LPUNKNOWN* lppUnk) {
    return openAbEntry(directory_, cbEntryID, lpEntryID, lpInterface, lpulObjType, lppUnk);
}

// A list read from vCards is not changed through MAPI, nor searched.
HRESULT DistList::GetHierarchyTable(ULONG, LPMAPITABLE* lppTable) {
    if (lppTable != nullptr) {
        *lppTable = nullptr;
    }
    return MAPI_E_NO_SUPPORT;
}
HRESULT DistList::SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT DistList::GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT DistList::CreateEntry(ULONG, LPENTRYID, ULONG, LPMAPIPROP*) {
    return MAPI_E_NO_ACCESS;
}
HRESULT DistList::CopyEntries(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
    return MAPI_E_NO_ACCESS;
}
HRESULT DistList::DeleteEntries(LPENTRYLIST, ULONG) {
    return MAPI_E_NO_ACCESS;
}
HRESULT DistList::ResolveNames(LPSPropTagArray, ULONG, LPADRLIST, LPFlagList) {
    return MAPI_E_NO_SUPPORT;
}

HRESULT openAbEntry(const std::shared_ptr<const Directory>& directory, ULONG cbEntryID,
                    LPENTRYID lpEntryID, LPCIID lpInterface, ULONG* lpulObjType,
                    LPUNKNOWN* lppUnk) {
    if (lppUnk == nullptr || lpulObjType == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppUnk = nullptr;
    *lpulObjType = 0;
    if (lpEntryID == nullptr || cbEntryID == 0) {
        return MAPI_E_NO_SUPPORT;  // the root container is not offered
    }
    try {
        AbEntry entry;
        if (!directory->find(reinterpret_cast<const BYTE*>(lpEntryID), cbEntryID, entry)) {
            return MAPI_E_UNKNOWN_ENTRYID;
        }
        const bool asProp =
            mapiIsIid(lpInterface, IID_IMAPIProp) || mapiIsIid(lpInterface, IID_IUnknown);
        if (entry.list) {
            if (lpInterface != nullptr && !asProp && !mapiIsIid(lpInterface, IID_IDistList) &&
                !mapiIsIid(lpInterface, IID_IMAPIContainer)) {
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            }
            *lppUnk = static_cast<IDistList*>(DistList::create(directory, entry));
        } else {
            if (lpInterface != nullptr && !asProp && !mapiIsIid(lpInterface, IID_IMailUser)) {
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            }
            *lppUnk = static_cast<IMailUser*>(AbMailUser::create(entry));
        }
        *lpulObjType = entry.objectType();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace mb::provider
