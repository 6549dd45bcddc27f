// SPDX-License-Identifier: MIT
#include "provider/store/store.h"

#include <pwd.h>
#include <unistd.h>

#include <new>
#include <vector>

#include "provider/store/folder.h"
#include "provider/com/table.h"

namespace mb::provider {
namespace {

constexpr ULONG kFolderMask = 0x000000FF;  // every FOLDER_* bit MAPI defines

}  // namespace

Maildir StoreContext::folder(FolderId id) const {
    return Maildir(profile.storePath + "/" + folderName(id));
}

void chooseSender(const Profile& profile, std::string& name, std::string& address) {
    name = profile.senderName;
    address = profile.senderAddress;
    if (!name.empty() && !address.empty()) {
        return;
    }
    std::string login;
    std::string fullName;
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr) {
        login = found->pw_name != nullptr ? found->pw_name : "";
        fullName = found->pw_gecos != nullptr ? found->pw_gecos : "";
        fullName = fullName.substr(0, fullName.find(','));
    }
    if (login.empty()) {
        login = "user" + std::to_string(::geteuid());
    }
    if (address.empty()) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
            std::snprintf(host, sizeof host, "localhost");
        }
        address = login + "@" + host;
    }
    if (name.empty()) {
        name = fullName;
    }
}

IMAPITable* makeStoresTable(const Profile& profile, HRESULT& result) {
    try {
        const std::vector<ULONG> columns = {PR_DEFAULT_STORE,  PR_ENTRYID,     PR_DISPLAY_NAME_A,
                                            PR_DISPLAY_NAME_W, PR_OBJECT_TYPE, PR_RECORD_KEY};
        Property wideName;
        wideName.tag = PR_DISPLAY_NAME_W;
        wideName.wide = utf8ToUtf16(profile.displayName);
        Row row = {Property::ofBool(PR_DEFAULT_STORE, true),
                   Property::ofBinary(PR_ENTRYID, storeEntryId()),
                   Property::ofString8(PR_DISPLAY_NAME_A, profile.displayName),
                   std::move(wideName),
                   Property::ofLong(PR_OBJECT_TYPE, MAPI_STORE),
                   Property::ofBinary(PR_RECORD_KEY, storeEntryId())};
        result = S_OK;
        return MemoryTable::create(columns, {std::move(row)});
    } catch (const std::bad_alloc&) {
        result = MAPI_E_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
}

Store* Store::create(const Profile& profile, DeliverQueued deliver, ExpandLists expandLists) {
    auto context = std::make_shared<StoreContext>();
    context->profile = profile;
    context->deliver = std::move(deliver);
    context->expandLists = std::move(expandLists);
    chooseSender(profile, context->fromName, context->fromAddress);
    return new Store(std::move(context));
}

Store::Store(std::shared_ptr<const StoreContext> context)
    : PropObject(context->profile.rejectUnicode), context_(std::move(context)) {}

std::optional<Property> Store::computed(ULONG propId) const {
    switch (PROP_TAG(PT_BINARY, propId)) {
        case PR_ENTRYID:
        case PR_RECORD_KEY:
            return Property::ofBinary(PROP_TAG(PT_BINARY, propId), storeEntryId());
        case PR_IPM_OUTBOX_ENTRYID:
            return Property::ofBinary(PR_IPM_OUTBOX_ENTRYID, folderEntryId(FolderId::Outbox));
        case PR_IPM_SENTMAIL_ENTRYID:
            return Property::ofBinary(PR_IPM_SENTMAIL_ENTRYID, folderEntryId(FolderId::SentItems));
        case PR_IPM_WASTEBASKET_ENTRYID:
            return Property::ofBinary(PR_IPM_WASTEBASKET_ENTRYID,
                                      folderEntryId(FolderId::DeletedItems));
        case PR_IPM_DRAFTS_ENTRYID:
            return Property::ofBinary(PR_IPM_DRAFTS_ENTRYID, folderEntryId(FolderId::Drafts));
        default:
            break;
    }
    if (propId == PROP_ID(PR_VALID_FOLDER_MASK)) {
        return Property::ofLong(PR_VALID_FOLDER_MASK, kFolderMask);
    }
    if (propId == PROP_ID(PR_OBJECT_TYPE)) {
        return Property::ofLong(PR_OBJECT_TYPE, MAPI_STORE);
    }
    if (propId == PROP_ID(PR_DISPLAY_NAME_A)) {
        return Property::ofString8(PR_DISPLAY_NAME_A, context_->profile.displayName);
    }
    return std::nullopt;
}

HRESULT Store::openFolder(FolderId id, LPMAPIFOLDER* out) const {
    *out = nullptr;
    HRESULT hr = context_->folder(id).ensure();
    if (FAILED(hr)) {
        return hr;
    }
    *out = Folder::create(context_, id);
    return S_OK;
}

HRESULT Store::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID, ULONG, ULONG* lpulObjType,
                         LPUNKNOWN* lppUnk) {
    if (lppUnk == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppUnk = nullptr;
    try {
        const std::optional<FolderId> folder = parseFolderEntryId(cbEntryID, lpEntryID);
        if (!folder) {
            return MAPI_E_INVALID_ENTRYID;
        }
        LPMAPIFOLDER opened = nullptr;
        HRESULT hr = openFolder(*folder, &opened);
        if (FAILED(hr)) {
            return hr;
        }
        if (lpulObjType != nullptr) {
            *lpulObjType = MAPI_FOLDER;
        }
        *lppUnk = opened;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return MAPI_E_CALL_FAILED;
    }
}

HRESULT Store::CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                               LPENTRYID lpEntryID2, ULONG, ULONG* lpulResult) {
    if (lpulResult == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    const bool store1 = isStoreEntryId(cbEntryID1, lpEntryID1);
    const std::optional<FolderId> folder1 = parseFolderEntryId(cbEntryID1, lpEntryID1);
    if (!store1 && !folder1) {
        return MAPI_E_UNKNOWN_ENTRYID;
    }
    const bool store2 = isStoreEntryId(cbEntryID2, lpEntryID2);
    const std::optional<FolderId> folder2 = parseFolderEntryId(cbEntryID2, lpEntryID2);
    *lpulResult = (store1 && store2) || (folder1 && folder1 == folder2) ? 1 : 0;
    return S_OK;
}

HRESULT Store::StoreLogoff(ULONG* lpulFlags) {
    if (lpulFlags != nullptr) {
        *lpulFlags = 0;  // nothing is pending: every message was filed when saved
    }
    return S_OK;
}

// Notifications, receive folders and the spooler's calls are not offered.
HRESULT Store::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Store::Unadvise(ULONG_PTR) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Store::SetReceiveFolder(LPMAPITSTR, ULONG, ULONG, LPENTRYID) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Store::GetReceiveFolder(LPMAPITSTR, ULONG, ULONG*, LPENTRYID*, LPMAPITSTR*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Store::GetReceiveFolderTable(ULONG, LPMAPITABLE*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Store::AbortSubmit(ULONG, LPENTRYID, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Store::GetOutgoingQueue(ULONG, LPMAPITABLE*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Store::SetLockState(LPMESSAGE, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Store::FinishedMsg(ULONG, ULONG, LPENTRYID) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Store::NotifyNewMail(LPNOTIFICATION) {
    return MAPI_E_NO_SUPPORT;
}

}  // namespace mb::provider
