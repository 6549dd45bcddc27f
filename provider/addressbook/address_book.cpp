// SPDX-License-Identifier: MIT
#include "provider/addressbook/address_book.h"

#include <cstdio>
#include <cstring>

#include "provider/contacts/contact_entry_id.h"
#include "provider/com/abi_guard.h"
#include "provider/com/diagnostics.h"
#include "provider/addressbook/dist_list.h"
#include "provider/com/exports.h"

namespace mb::provider {

AddressBook* AddressBook::create(const Profile& profile, std::shared_ptr<Ui> ui) {
    std::shared_ptr<const Directory> directory = Directory::load(profile.addressBooks);
    // Skipped cards and files cost the user recipients; say which, as the
    // profile loader does.
    for (const std::string& problem : directory->problems()) {
        reportProblem(problem);
    }
    return new AddressBook(std::move(directory), std::move(ui));
}

AddressBook::AddressBook(std::shared_ptr<const Directory> directory, std::shared_ptr<Ui> ui)
    : AbProp(Row{Property::ofLong(PR_OBJECT_TYPE, static_cast<LONG>(MAPI_ADDRBOOK))}),
      directory_(std::move(directory)),
      ui_(std::move(ui)) {}

HRESULT AddressBook::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG,
                               ULONG* lpulObjType, LPUNKNOWN* lppUnk) {
    return openAbEntry(directory_, cbEntryID, lpEntryID, lpInterface, lpulObjType, lppUnk);
}

HRESULT AddressBook::CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG,
                                     ULONG* lpulResult) {
    if (lpulResult == nullptr || id1 == nullptr || id2 == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    AbEntryIdParts a, b;
    if (!parseAbEntryId(reinterpret_cast<const BYTE*>(id1), cb1, a) ||
        !parseAbEntryId(reinterpret_cast<const BYTE*>(id2), cb2, b)) {
        return MAPI_E_UNKNOWN_ENTRYID;
    }
    *lpulResult = (cb1 == cb2 && std::memcmp(id1, id2, cb1) == 0) ? TRUE : FALSE;
    return S_OK;
}

HRESULT AddressBook::CreateOneOff(LPMAPITSTR lpszName, LPMAPITSTR lpszAdrType,
                                  LPMAPITSTR lpszAddress, ULONG ulFlags, ULONG* lpcbEntryID,
                                  LPENTRYID* lppEntryID) {
    if (lpszName == nullptr || lpszAdrType == nullptr || lpszAddress == nullptr ||
        lpcbEntryID == nullptr || lppEntryID == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lpcbEntryID = 0;
    *lppEntryID = nullptr;
    if ((ulFlags & MAPI_UNICODE) != 0) {
        return MAPI_E_BAD_CHARWIDTH;
    }
    const auto* name = reinterpret_cast<const char*>(lpszName);
    const auto* type = reinterpret_cast<const char*>(lpszAdrType);
    const auto* address = reinterpret_cast<const char*>(lpszAddress);
    if (*type == '\0') {
        return MAPI_E_INVALID_PARAMETER;
    }
    try {
        const std::vector<BYTE> id = makeOneOffEntryId(name, type, address);
        void* buffer = nullptr;
        const HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(id.size()), &buffer);
        if (FAILED(hr)) {
            return hr;
        }
        std::memcpy(buffer, id.data(), id.size());
        *lpcbEntryID = static_cast<ULONG>(id.size());
        *lppEntryID = static_cast<LPENTRYID>(buffer);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

HRESULT AddressBook::ResolveName(ULONG_PTR ulUIParam, ULONG ulFlags, LPMAPITSTR, LPADRLIST lpAdrList) {
    if (lpAdrList == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if ((ulFlags & MAPI_UNICODE) != 0) {
        return MAPI_E_BAD_CHARWIDTH;
    }
    try {
        return resolveNames(static_cast<std::uint64_t>(ulUIParam), ulFlags, *lpAdrList);
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return MAPI_E_CALL_FAILED;
    }
}

HRESULT AddressBook::Address(ULONG_PTR* lpulUIParam, LPADRPARM lpAdrParms,
                             LPADRLIST* lppAdrList) {
    if (lpAdrParms == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    const std::uint64_t parent = lpulUIParam != nullptr ? *lpulUIParam : 0;
    return abiGuard([&]() -> HRESULT { return addressDialog(parent, *lpAdrParms, lppAdrList); });
}

// Not needed by the Broker: notifications, the entry and details dialogs,
// recipient options and the search path.
HRESULT AddressBook::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::Unadvise(ULONG_PTR) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG*,
                              LPENTRYID*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::Details(ULONG_PTR*, LPFNDISMISS, LPVOID, ULONG, LPENTRYID, LPFNBUTTON, LPVOID,
                             LPMAPITSTR, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::RecipOptions(ULONG_PTR, ULONG, LPADRENTRY) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::QueryDefaultRecipOpt(LPSTR, ULONG, ULONG*, LPSPropValue*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::GetPAB(ULONG*, LPENTRYID*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::SetPAB(ULONG, LPENTRYID) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::GetDefaultDir(ULONG*, LPENTRYID*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::SetDefaultDir(ULONG, LPENTRYID) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::GetSearchPath(ULONG, LPSRowSet*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::SetSearchPath(ULONG, LPSRowSet) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT AddressBook::PrepareRecips(ULONG, LPSPropTagArray, LPADRLIST) {
    return MAPI_E_NO_SUPPORT;
}

}  // namespace mb::provider
