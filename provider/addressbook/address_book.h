// SPDX-License-Identifier: MIT
// The session's address book: the entries of the profile's vCards (see
// contacts/directory.h), name resolution and the address-book dialog, which goes
// through the session's UI driver. Cards and files skipped while reading are
// reported through reportProblem (com/diagnostics.h), one line each.
//
// ResolveName resolves every entry that has values but no PR_ENTRYID, from
// its PR_DISPLAY_NAME_A (or _W): a unique match on the e-mail address, then
// on the whole display name, then on a prefix of it (see Directory::match);
// a text that matches nothing but is an e-mail address, or "Name <address>"
// for an address no card has, becomes a one-off SMTP recipient. Ambiguous or
// unknown names go to the UI driver with MAPI_DIALOG, and otherwise fail the
// call with MAPI_E_AMBIGUOUS_RECIP or MAPI_E_NOT_FOUND, leaving the list as
// it was. A resolved entry's value array is replaced (the old one freed with
// MAPIFreeBuffer): PR_ENTRYID, PR_DISPLAY_NAME_A, PR_ADDRTYPE_A,
// PR_EMAIL_ADDRESS_A, PR_OBJECT_TYPE, PR_DISPLAY_TYPE, PR_SMTP_ADDRESS_A
// (when known) and the entry's PR_RECIPIENT_TYPE. Entries without values are
// left alone. Names are held as UTF-8 in 8-bit properties, so MAPI_UNICODE
// gives MAPI_E_BAD_CHARWIDTH.
#pragma once

#include <memory>

#include "provider/contacts/directory.h"
#include "provider/addressbook/ab_prop.h"
#include "provider/ui/driver.h"

namespace mb::provider {

class AddressBook final : public AbProp<IAddrBook, IID_IAddrBook> {
  public:
    // Reads the profile's address books; created with one reference.
    static AddressBook* create(const Profile& profile, std::shared_ptr<Ui> ui);

    const Directory& directory() const { return *directory_; }

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
    HRESULT STDMETHODCALLTYPE CreateOneOff(LPMAPITSTR lpszName, LPMAPITSTR lpszAdrType,
                                           LPMAPITSTR lpszAddress, ULONG ulFlags,
                                           ULONG* lpcbEntryID, LPENTRYID* lppEntryID) override;
    HRESULT STDMETHODCALLTYPE NewEntry(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cbEIDContainer,
                                       LPENTRYID lpEIDContainer, ULONG cbEIDNewEntryTpl,
                                       LPENTRYID lpEIDNewEntryTpl, ULONG* lpcbEIDNewEntry,
                                       LPENTRYID* lppEIDNewEntry) override;
    HRESULT STDMETHODCALLTYPE ResolveName(ULONG_PTR ulUIParam, ULONG ulFlags,
                                          LPMAPITSTR lpszNewEntryTitle,
                                          LPADRLIST lpAdrList) override;
    HRESULT STDMETHODCALLTYPE Address(ULONG_PTR* lpulUIParam, LPADRPARM lpAdrParms,
                                      LPADRLIST* lppAdrList) override;
    HRESULT STDMETHODCALLTYPE Details(ULONG_PTR* lpulUIParam, LPFNDISMISS lpfnDismiss,
                                      LPVOID lpvDismissContext, ULONG cbEntryID,
                                      LPENTRYID lpEntryID, LPFNBUTTON lpfButtonCallback,
                                      LPVOID lpvButtonContext, LPMAPITSTR lpszButtonText,
                                      ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE RecipOptions(ULONG_PTR ulUIParam, ULONG ulFlags,
                                           LPADRENTRY lpRecip) override;
    HRESULT STDMETHODCALLTYPE QueryDefaultRecipOpt(LPSTR lpszAdrType, ULONG ulFlags,
                                                   ULONG* lpcValues,
                                                   LPSPropValue* lppOptions) override;
    HRESULT STDMETHODCALLTYPE GetPAB(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) override;
    HRESULT STDMETHODCALLTYPE SetPAB(ULONG cbEntryID, LPENTRYID lpEntryID) override;
    HRESULT STDMETHODCALLTYPE GetDefaultDir(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) override;
    HRESULT STDMETHODCALLTYPE SetDefaultDir(ULONG cbEntryID, LPENTRYID lpEntryID) override;
    HRESULT STDMETHODCALLTYPE GetSearchPath(ULONG ulFlags, LPSRowSet* lppSearchPath) override;
    HRESULT STDMETHODCALLTYPE SetSearchPath(ULONG ulFlags, LPSRowSet lpSearchPath) override;
    HRESULT STDMETHODCALLTYPE PrepareRecips(ULONG ulFlags, LPSPropTagArray lpPropTagArray,
                                            LPADRLIST lpRecipList) override;

  private:
    AddressBook(std::shared_ptr<const Directory> directory, std::shared_ptr<Ui> ui);

    HRESULT resolveNames(std::uint64_t parent, ULONG ulFlags, ADRLIST& list);
    HRESULT addressDialog(std::uint64_t parent, const ADRPARM& params, LPADRLIST* lppAdrList);

    const std::shared_ptr<const Directory> directory_;
    const std::shared_ptr<Ui> ui_;
};

}  // namespace mb::provider
