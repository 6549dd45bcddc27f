// SPDX-License-Identifier: MIT
#include "provider/session.h"

#include <stdlib.h>

#include <new>

#include "provider/com/abi_guard.h"
#include "provider/com/diagnostics.h"
#include "provider/addressbook/address_book.h"
#include "provider/initialize.h"
#include "provider/list_expansion.h"
#include "provider/prof_admin.h"
#include "provider/transport/spooler.h"
#include "provider/store/maildir.h"
#include "provider/store/store.h"
#include "provider/ui/driver.h"

namespace mb::provider {

Session* Session::create(Profile profile) {
    return new Session(std::move(profile));
}

HRESULT Session::Logoff(ULONG_PTR, ULONG, ULONG) {
    // Nothing to flush until the store exists.
    return S_OK;
}

HRESULT Session::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) {
    if (lppMAPIError != nullptr) {
        *lppMAPIError = nullptr;
    }
    return MAPI_E_NO_SUPPORT;
}

HRESULT Session::OpenAddressBook(ULONG_PTR, LPCIID lpInterface, ULONG, LPADRBOOK* lppAdrBook) {
    if (lppAdrBook == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppAdrBook = nullptr;
    if (lpInterface != nullptr && !mapiIsIid(lpInterface, IID_IAddrBook)) {
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    return abiGuard([&]() -> HRESULT {
        *lppAdrBook = AddressBook::create(profile_, ui_);
        return S_OK;
    });
}

HRESULT Session::GetMsgStoresTable(ULONG, LPMAPITABLE* lppTable) {
    if (lppTable == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    HRESULT result = S_OK;
    *lppTable = makeStoresTable(profile_, result);
    return result;
}

HRESULT Session::OpenMsgStore(ULONG_PTR, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID, ULONG,
                              LPMDB* lppMDB) {
    if (lppMDB == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppMDB = nullptr;
    if (!isStoreEntryId(cbEntryID, lpEntryID)) {
        return MAPI_E_INVALID_ENTRYID;
    }
    return abiGuard([&]() -> HRESULT {
        *lppMDB = Store::create(profile_, deliverQueued, expandMessageLists);
        return S_OK;
    });
}

HRESULT Session::PrepareForm(LPCIID, LPMESSAGE lpMessage, ULONG* lpulMessageToken) {
    return forms_.prepare(lpMessage, lpulMessageToken);
}

HRESULT Session::ShowForm(ULONG_PTR ulUIParam, LPMDB, LPMAPIFOLDER, LPCIID, ULONG ulMessageToken, LPMESSAGE,
                          ULONG, ULONG, ULONG, ULONG, LPSTR) {
    if (!ui_) {
        return MAPI_E_CALL_FAILED;
    }
    return forms_.show(ulMessageToken, static_cast<std::uint64_t>(ulUIParam), profile_.name,
                       *ui_);
}

// Not called by the Broker.
HRESULT Session::OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::GetStatusTable(ULONG, LPMAPITABLE*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::Unadvise(ULONG_PTR) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::MessageOptions(ULONG_PTR, ULONG, LPMAPITSTR, LPMESSAGE) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::QueryDefaultMessageOpt(LPMAPITSTR, ULONG, ULONG*, LPSPropValue*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::EnumAdrTypes(ULONG, ULONG*, LPMAPITSTR**) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::QueryIdentity(ULONG*, LPENTRYID*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::SetDefaultStore(ULONG, ULONG, LPENTRYID) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT Session::AdminServices(ULONG, LPSERVICEADMIN*) {
    return MAPI_E_NO_SUPPORT;
}

const Profile* chooseProfile(const ProfileLoad& load, const char* name, ULONG flags,
                             HRESULT& result) {
    result = MAPI_E_LOGON_FAILED;
    if (name != nullptr && name[0] != '\0') {
        for (const Profile& profile : load.profiles) {
            if (profile.name == name) {
                result = S_OK;
                return &profile;
            }
        }
        for (const Profile& profile : load.profiles) {
            if (profile.displayName == name) {
                result = S_OK;
                return &profile;
            }
        }
        return nullptr;
    }
    if ((flags & MAPI_USE_DEFAULT) == 0 || (flags & MAPI_EXPLICIT_PROFILE) != 0) {
        return nullptr;
    }
    const Profile* chosen = defaultProfile(load);
    if (chosen != nullptr) {
        result = S_OK;
    }
    return chosen;
}

}  // namespace mb::provider

extern "C" HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPMAPITSTR lpszProfileName, LPMAPITSTR, ULONG ulFlags,
                               LPMAPISESSION* lppSession) {
    using namespace mb::provider;
    if (lppSession == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppSession = nullptr;
    if ((ulFlags & MAPI_UNICODE) != 0 && lpszProfileName != nullptr) {
        return MAPI_E_BAD_CHARWIDTH;
    }
    if (!mapiInitialized()) {
        return MAPI_E_NOT_INITIALIZED;
    }
    return abiGuard([&]() -> HRESULT {
        ProfileLoad load = loadProfiles();
        if (FAILED(load.result)) {
            reportProfileError(load);
            return load.result;
        }
        HRESULT result = S_OK;
        const char* name = lpszProfileName;
        const char* chosenByEnvironment = getenv("MAILBROKER_PROFILE");
        if ((name == nullptr || name[0] == '\0') && chosenByEnvironment != nullptr &&
            chosenByEnvironment[0] != '\0') {
            // A program acting for a profile already chosen (the compose
            // window sending what was written in it) names it for itself and
            // its children.
            name = chosenByEnvironment;
        }
        const Profile* profile = chooseProfile(load, name, ulFlags, result);
        if (profile == nullptr && name == chosenByEnvironment && name != nullptr) {
            reportProblem(std::string("MAILBROKER_PROFILE names no profile: ") + name);
        }
        if (profile == nullptr && (ulFlags & MAPI_LOGON_UI) != 0 &&
            (name == nullptr || name[0] == '\0') && !load.profiles.empty()) {
            // No profile to take without asking: the logon dialog offers
            // them all, the first one selected, and shows as the first
            // profile's `ui` says.
            UiLogon logon{static_cast<std::uint64_t>(ulUIParam), {}};
            for (const Profile& p : load.profiles) {
                logon.profiles.push_back({p.name, p.displayName});
            }
            std::size_t chosen = 0;
            result = makeUi(load.profiles.front())->logon(logon, chosen);
            profile = SUCCEEDED(result) && chosen < load.profiles.size() ? &load.profiles[chosen]
                                                                          : nullptr;
            result = SUCCEEDED(result) && profile == nullptr ? MAPI_E_CALL_FAILED : result;
        }
        if (profile == nullptr) {
            return result;
        }
        // What a writer that died left in the store's tmp/ folders goes;
        // nothing else ever removes it.
        removeStaleTemporaries(profile->storePath, std::time(nullptr));
        // What an earlier delivery left queued goes out now, within the
        // profile's time-out.
        deliverOutbox(*profile);
        *lppSession = Session::create(*profile);
        return S_OK;
    });
}
