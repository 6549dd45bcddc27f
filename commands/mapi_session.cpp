// SPDX-License-Identifier: MIT
#include "commands/mapi_session.h"

#include <cstddef>
#include <utility>

namespace {

// FARPROC is the generic shape GetProcAddress hands out; the caller knows the
// real one. Through void* so that no function-type cast warning applies.
template <typename Fn>
Fn lookup(HMODULE library, const char* name) {
    if (library == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

constexpr ULONG kLogonFlags = MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_EXTENDED | MAPI_USE_DEFAULT;

}  // namespace

MapiSession::MapiSession(ParamMap params) : MapiSession(std::move(params), "mapi32.dll") {}

MapiSession::MapiSession(ParamMap params, const char* libraryName) : params_(std::move(params)) {
    start(libraryName);
}

void MapiSession::start(const char* libraryName) {
    library_ = LoadLibraryA(libraryName);
    auto freeFn = lookup<LPMAPIFREEBUFFER>(library_, "MAPIFreeBuffer");
    auto allocateFn = lookup<LPMAPIALLOCATEBUFFER>(library_, "MAPIAllocateBuffer");
    allocator_ = new MapiAllocator(allocateFn, freeFn);
    mapiInitialize_ = lookup<LPMAPIINITIALIZE>(library_, "MAPIInitialize");
    mapiUninitialize_ = lookup<LPMAPIUNINITIALIZE>(library_, "MAPIUninitialize");
    mapiLogonEx_ = lookup<LPMAPILOGONEX>(library_, "MAPILogonEx");
    mapiAdminProfiles_ = lookup<LPMAPIADMINPROFILES>(library_, "MAPIAdminProfiles");
    if (!hasCoreEntryPoints()) {
        status_ = MAPI_E_NO_SUPPORT;
        return;
    }
    status_ = mapiInitialize_(nullptr);
    if (status_ < 0) {
        return;
    }
    uint32_t parent = 0;
    readNumber("parent", "%ul", &parent);
    status_ = mapiLogonEx_(static_cast<ULONG_PTR>(parent), nullptr, nullptr, kLogonFlags,
                           &logonSession_);
}

MapiSession::~MapiSession() {
    if (ownsAllocator_ != 0 && allocator_ != nullptr) {
        delete allocator_;
    }
    allocator_ = nullptr;
    if (logonSession_ != nullptr) {
        logonSession_->Logoff(0, 0, 0);
        logonSession_->Release();
        logonSession_ = nullptr;
    }
    // Paired with the entry points' presence, not with MAPIInitialize's result.
    if (hasCoreEntryPoints()) {
        mapiUninitialize_();
    }
    if (library_ != nullptr) {
        FreeLibrary(library_);
        library_ = nullptr;
    }
}

bool MapiSession::hasCoreEntryPoints() const {
    return mapiInitialize_ != nullptr && mapiUninitialize_ != nullptr && mapiLogonEx_ != nullptr;
}

const KsString* MapiSession::param(const char* key) const {
    auto found = params_.find(KsString(key));
    return found == params_.end() ? nullptr : &found->second;
}

void MapiSession::readNumber(const char* key, const char* format, uint32_t* value) const {
    if (const KsString* text = param(key)) {
        KsString copy(*text);
        copy.scan(KsString(format), value);
    }
}

void MapiSession::readNumber(const char* key, const char* format, int32_t* value) const {
    if (const KsString* text = param(key)) {
        KsString copy(*text);
        copy.scan(KsString(format), value);
    }
}

void MapiSession::freeAddressList(WabOrMapiAllocator* allocator, LPADRLIST list) {
    if (list == nullptr) {
        return;
    }
    for (ULONG i = 0; i < list->cEntries; ++i) {
        if (list->aEntries[i].rgPropVals != nullptr) {
            allocator->freeBuffer(list->aEntries[i].rgPropVals);
        }
    }
    allocator->freeBuffer(list);
}

void MapiSession::freeAddressList(WabOrMapiAllocator* allocator, LPSRowSet rows) {
    static_assert(sizeof(SRow) == sizeof(ADRENTRY) && offsetof(SRowSet, aRow) ==
                      offsetof(ADRLIST, aEntries) && offsetof(SRow, lpProps) ==
                      offsetof(ADRENTRY, rgPropVals),
                  "a row set and an address list share one layout");
    freeAddressList(allocator, reinterpret_cast<LPADRLIST>(rows));
}
