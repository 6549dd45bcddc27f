// SPDX-License-Identifier: MIT
#include "provider/store/folder.h"

#include <new>

#include "provider/com/abi_guard.h"
#include "provider/store/message.h"

namespace mb::provider {

Folder* Folder::create(std::shared_ptr<const StoreContext> context, FolderId id) {
    return new Folder(std::move(context), id);
}

Folder::Folder(std::shared_ptr<const StoreContext> context, FolderId id)
    : PropObject(context->profile.rejectUnicode), context_(std::move(context)), id_(id) {}

std::optional<Property> Folder::computed(ULONG propId) const {
    switch (PROP_TAG(PT_BINARY, propId)) {
        case PR_ENTRYID:
        case PR_RECORD_KEY:
            return Property::ofBinary(PROP_TAG(PT_BINARY, propId), folderEntryId(id_));
        case PR_STORE_ENTRYID:
            return Property::ofBinary(PR_STORE_ENTRYID, storeEntryId());
        default:
            break;
    }
    if (propId == PROP_ID(PR_OBJECT_TYPE)) {
        return Property::ofLong(PR_OBJECT_TYPE, MAPI_FOLDER);
    }
    if (propId == PROP_ID(PR_FOLDER_TYPE)) {
        return Property::ofLong(PR_FOLDER_TYPE, FOLDER_GENERIC);
    }
    if (propId == PROP_ID(PR_DISPLAY_NAME_A)) {
        return Property::ofString8(PR_DISPLAY_NAME_A, folderName(id_));
    }
    return std::nullopt;
}

HRESULT Folder::CreateMessage(LPCIID, ULONG ulFlags, LPMESSAGE* lppMessage) {
    if (lppMessage == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppMessage = nullptr;
    if ((ulFlags & ~(MAPI_DEFERRED_ERRORS | MAPI_ASSOCIATED)) != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    return abiGuard([&]() -> HRESULT {
        *lppMessage = Message::create(context_, id_);
        return S_OK;
    });
}

HRESULT Folder::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID, ULONG, ULONG* lpulObjType,
                          LPUNKNOWN* lppUnk) {
    if (lppUnk == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppUnk = nullptr;
    const std::optional<FolderId> folder = parseFolderEntryId(cbEntryID, lpEntryID);
    if (!folder) {
        return MAPI_E_INVALID_ENTRYID;
    }
    return abiGuard([&]() -> HRESULT {
        HRESULT hr = context_->folder(*folder).ensure();
        if (FAILED(hr)) {
            return hr;
        }
        *lppUnk = Folder::create(context_, *folder);
        if (lpulObjType != nullptr) {
            *lpulObjType = MAPI_FOLDER;
        }
        return S_OK;
    });
}

// Not offered: see folder.h.
HRESULT Folder::GetContentsTable(ULONG, LPMAPITABLE*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::GetHierarchyTable(ULONG, LPMAPITABLE*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::CreateFolder(ULONG, LPMAPITSTR, LPMAPITSTR, LPCIID, ULONG, LPMAPIFOLDER*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPMAPITSTR, ULONG_PTR, LPMAPIPROGRESS,
                           ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::SaveContentsSort(LPSSortOrderSet, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Folder::EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) {
    return MAPI_E_NO_SUPPORT;
}

}  // namespace mb::provider
