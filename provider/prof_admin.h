// SPDX-License-Identifier: MIT
// IProfAdmin over the profiles of profiles.ini, and MAPIAdminProfiles.
//
// The object holds the profiles as they were when MAPIAdminProfiles read
// them. GetProfileTable gives one row per profile with the columns
// PR_DISPLAY_NAME_A (first) and PR_DEFAULT_PROFILE; with MAPI_UNICODE it
// fails with MAPI_E_BAD_CHARWIDTH. The other methods, which change
// profiles, return MAPI_E_NO_SUPPORT: profiles are edited in the file.
#pragma once

#include <atomic>

#include "profiles/profiles.h"

#include "provider/com/com_object.h"

namespace mb::provider {

class ProfileAdmin final : public ComObject<IProfAdmin, IID_IProfAdmin> {
  public:
    // Creates the object with one reference.
    static ProfileAdmin* create(std::vector<Profile> profiles);

    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hResult, ULONG ulFlags,
                                           LPMAPIERROR* lppMAPIError) override;
    HRESULT STDMETHODCALLTYPE GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT STDMETHODCALLTYPE CreateProfile(LPMAPITSTR lpszProfileName, LPMAPITSTR lpszPassword,
                                            ULONG_PTR ulUIParam, ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE DeleteProfile(LPMAPITSTR lpszProfileName, ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE ChangeProfilePassword(LPMAPITSTR lpszProfileName,
                                                    LPMAPITSTR lpszOldPassword,
                                                    LPMAPITSTR lpszNewPassword,
                                                    ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE CopyProfile(LPMAPITSTR lpszOldProfileName, LPMAPITSTR lpszOldPassword,
                                          LPMAPITSTR lpszNewProfileName, ULONG_PTR ulUIParam,
                                          ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE RenameProfile(LPMAPITSTR lpszOldProfileName,
                                            LPMAPITSTR lpszOldPassword,
                                            LPMAPITSTR lpszNewProfileName, ULONG_PTR ulUIParam,
                                            ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE SetDefaultProfile(LPMAPITSTR lpszProfileName, ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE AdminServices(LPMAPITSTR lpszProfileName, LPMAPITSTR lpszPassword,
                                            ULONG_PTR ulUIParam, ULONG ulFlags,
                                            LPSERVICEADMIN* lppServiceAdmin) override;

  private:
    explicit ProfileAdmin(std::vector<Profile> profiles) : profiles_(std::move(profiles)) {}
    ~ProfileAdmin() override = default;

    const std::vector<Profile> profiles_;
};

// Reports a failed profile load through reportProblem, so that the user can
// find the line to fix; the caller only sees the MAPI code.
void reportProfileError(const ProfileLoad& load);

}  // namespace mb::provider
