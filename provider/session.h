// SPDX-License-Identifier: MIT
// The logged-on session, and MAPILogonEx.
//
// Logon picks a profile: the one named (by its section name, or failing that
// its display name), or with no name and MAPI_USE_DEFAULT the default one.
// No profile to use gives MAPI_E_LOGON_FAILED; a broken profiles.ini gives
// MAPI_E_CORRUPT_DATA; logging on before MAPIInitialize gives
// MAPI_E_NOT_INITIALIZED. When no profile can be taken without asking and
// MAPI_LOGON_UI is given, the UI driver's logon dialog offers the first
// profile; cancelling it gives MAPI_E_USER_CANCEL.
//
// GetMsgStoresTable and OpenMsgStore give the profile's Maildir store (see
// store/store.h); PrepareForm and ShowForm file a message in Drafts and open it in
// the Ui's compose window.
//
// OpenAddressBook reads the profile's vCards afresh each time (see
// address_book.h); AB_NO_DIALOG is accepted and changes nothing, since the
// Broker decides per call whether ResolveName may show a dialog.
#pragma once

#include <atomic>
#include <memory>

#include "profiles/profiles.h"
#include "provider/store/forms.h"
#include "provider/ui/driver.h"

#include "provider/com/com_object.h"

namespace mb::provider {

class Session final : public ComObject<IMAPISession, IID_IMAPISession> {
  public:
    // Creates the session with one reference.
    static Session* create(Profile profile);

    const Profile& profile() const { return profile_; }
    // The session's dialogs; address books opened from it share it.
    const std::shared_ptr<Ui>& ui() const { return ui_; }

    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hResult, ULONG ulFlags,
                                           LPMAPIERROR* lppMAPIError) override;
    HRESULT STDMETHODCALLTYPE GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT STDMETHODCALLTYPE OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID,
                                           LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                           LPMDB* lppMDB) override;
    HRESULT STDMETHODCALLTYPE OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface,
                                              ULONG ulFlags, LPADRBOOK* lppAdrBook) override;
    HRESULT STDMETHODCALLTYPE OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                                 LPPROFSECT* lppProfSect) override;
    HRESULT STDMETHODCALLTYPE GetStatusTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                        ULONG ulFlags, ULONG* lpulObjType,
                                        LPUNKNOWN* lppUnk) override;
    HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1,
                                              ULONG cbEntryID2, LPENTRYID lpEntryID2, ULONG ulFlags,
                                              ULONG* lpulResult) override;
    HRESULT STDMETHODCALLTYPE Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask,
                                     LPMAPIADVISESINK lpAdviseSink,
                                     ULONG_PTR* lpulConnection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR ulConnection) override;
    HRESULT STDMETHODCALLTYPE MessageOptions(ULONG_PTR ulUIParam, ULONG ulFlags,
                                             LPMAPITSTR lpszAdrType, LPMESSAGE lpMessage) override;
    HRESULT STDMETHODCALLTYPE QueryDefaultMessageOpt(LPMAPITSTR lpszAdrType, ULONG ulFlags,
                                                     ULONG* lpcValues,
                                                     LPSPropValue* lppOptions) override;
    HRESULT STDMETHODCALLTYPE EnumAdrTypes(ULONG ulFlags, ULONG* lpcAdrTypes,
                                           LPMAPITSTR** lpppszAdrTypes) override;
    HRESULT STDMETHODCALLTYPE QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) override;
    HRESULT STDMETHODCALLTYPE Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) override;
    HRESULT STDMETHODCALLTYPE SetDefaultStore(ULONG ulFlags, ULONG cbEntryID,
                                              LPENTRYID lpEntryID) override;
    HRESULT STDMETHODCALLTYPE AdminServices(ULONG ulFlags,
                                            LPSERVICEADMIN* lppServiceAdmin) override;
    HRESULT STDMETHODCALLTYPE ShowForm(ULONG_PTR ulUIParam, LPMDB lpMsgStore,
                                       LPMAPIFOLDER lpParentFolder, LPCIID lpInterface,
                                       ULONG ulMessageToken, LPMESSAGE lpMessageSent, ULONG ulFlags,
                                       ULONG ulMessageStatus, ULONG ulMessageFlags, ULONG ulAccess,
                                       LPSTR lpszMessageClass) override;
    HRESULT STDMETHODCALLTYPE PrepareForm(LPCIID lpInterface, LPMESSAGE lpMessage,
                                          ULONG* lpulMessageToken) override;

  private:
    explicit Session(Profile profile) : profile_(std::move(profile)), ui_(makeUi(profile_)) {}
    ~Session() override = default;

    const Profile profile_;
    const std::shared_ptr<Ui> ui_;
    PendingForms forms_;  // between PrepareForm and ShowForm
};

// The profile MAPILogonEx would use without asking, or null (result then
// says why): the one named, or without a name and with MAPI_USE_DEFAULT the
// default profile. MAPILogonEx takes the environment variable
// MAILBROKER_PROFILE, when set and not empty, as the name when given none.
const Profile* chooseProfile(const ProfileLoad& load, const char* name, ULONG flags,
                             HRESULT& result);

}  // namespace mb::provider
