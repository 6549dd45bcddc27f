// SPDX-License-Identifier: MIT
#include "provider/prof_admin.h"

#include <cstdio>
#include <new>

#include "provider/com/abi_guard.h"
#include "provider/com/diagnostics.h"
#include "provider/initialize.h"
#include "provider/com/table.h"

namespace mb::provider {

ProfileAdmin* ProfileAdmin::create(std::vector<Profile> profiles) {
    return new ProfileAdmin(std::move(profiles));
}

HRESULT ProfileAdmin::GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) {
    if (lppTable == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppTable = nullptr;
    if ((ulFlags & ~MAPI_UNICODE) != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    if ((ulFlags & MAPI_UNICODE) != 0) {
        return MAPI_E_BAD_CHARWIDTH;
    }
    return abiGuard([&]() -> HRESULT {
        std::vector<Row> rows;
        for (const Profile& profile : profiles_) {
            rows.push_back({Property::ofString8(PR_DISPLAY_NAME_A, profile.displayName),
                            Property::ofBool(PR_DEFAULT_PROFILE, profile.isDefault)});
        }
        *lppTable = MemoryTable::create({PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE}, std::move(rows));
        return S_OK;
    });
}

HRESULT ProfileAdmin::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) {
    if (lppMAPIError != nullptr) {
        *lppMAPIError = nullptr;
    }
    return MAPI_E_NO_SUPPORT;
}

HRESULT ProfileAdmin::CreateProfile(LPMAPITSTR, LPMAPITSTR, ULONG_PTR, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT ProfileAdmin::DeleteProfile(LPMAPITSTR, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT ProfileAdmin::ChangeProfilePassword(LPMAPITSTR, LPMAPITSTR, LPMAPITSTR, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT ProfileAdmin::CopyProfile(LPMAPITSTR, LPMAPITSTR, LPMAPITSTR, ULONG_PTR, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT ProfileAdmin::RenameProfile(LPMAPITSTR, LPMAPITSTR, LPMAPITSTR, ULONG_PTR, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT ProfileAdmin::SetDefaultProfile(LPMAPITSTR, ULONG) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT ProfileAdmin::AdminServices(LPMAPITSTR, LPMAPITSTR, ULONG_PTR, ULONG,
                                    LPSERVICEADMIN* lppServiceAdmin) {
    if (lppServiceAdmin != nullptr) {
        *lppServiceAdmin = nullptr;
    }
    return MAPI_E_NO_SUPPORT;
}

void reportProfileError(const ProfileLoad& load) {
    if (FAILED(load.result)) {
        reportProblem(load.error);
    }
}

}  // namespace mb::provider

extern "C" HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin) {
    using namespace mb::provider;
    if (lppProfAdmin == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppProfAdmin = nullptr;
    if (ulFlags != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
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
        *lppProfAdmin = ProfileAdmin::create(std::move(load.profiles));
        return S_OK;
    });
}
