// SPDX-License-Identifier: MIT
// The MAPI interfaces of the address book, profile administration and the
// session, in MAPI's published vtable order. Included by mapi_interfaces.h.
#pragma once

#include "mapi/mapi_interfaces.h"

struct IABContainer : public IMAPIContainer {
    virtual HRESULT STDMETHODCALLTYPE CreateEntry(ULONG cbEntryID, LPENTRYID lpEntryID,
                                                  ULONG ulCreateFlags,
                                                  LPMAPIPROP* lppMAPIPropEntry) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyEntries(LPENTRYLIST lpEntries, ULONG_PTR ulUIParam,
                                                  LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteEntries(LPENTRYLIST lpEntries, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResolveNames(LPSPropTagArray lpPropTagArray, ULONG ulFlags,
                                                   LPADRLIST lpAdrList,
                                                   LPFlagList lpFlagList) = 0;
};

// A distribution list offers the same operations as an address book container.
struct IDistList : public IMAPIContainer {
    virtual HRESULT STDMETHODCALLTYPE CreateEntry(ULONG cbEntryID, LPENTRYID lpEntryID,
                                                  ULONG ulCreateFlags,
                                                  LPMAPIPROP* lppMAPIPropEntry) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyEntries(LPENTRYLIST lpEntries, ULONG_PTR ulUIParam,
                                                  LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteEntries(LPENTRYLIST lpEntries, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResolveNames(LPSPropTagArray lpPropTagArray, ULONG ulFlags,
                                                   LPADRLIST lpAdrList,
                                                   LPFlagList lpFlagList) = 0;
};

struct IAddrBook : public IMAPIProp {
    virtual HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID,
                                                LPCIID lpInterface, ULONG ulFlags,
                                                ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1,
                                                      ULONG cbEntryID2, LPENTRYID lpEntryID2,
                                                      ULONG ulFlags, ULONG* lpulResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(ULONG cbEntryID, LPENTRYID lpEntryID,
                                             ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                                             ULONG_PTR* lpulConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR ulConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateOneOff(LPMAPITSTR lpszName, LPMAPITSTR lpszAdrType,
                                                   LPMAPITSTR lpszAddress, ULONG ulFlags,
                                                   ULONG* lpcbEntryID,
                                                   LPENTRYID* lppEntryID) = 0;
    virtual HRESULT STDMETHODCALLTYPE NewEntry(ULONG_PTR ulUIParam, ULONG ulFlags,
                                               ULONG cbEIDContainer, LPENTRYID lpEIDContainer,
                                               ULONG cbEIDNewEntryTpl,
                                               LPENTRYID lpEIDNewEntryTpl,
                                               ULONG* lpcbEIDNewEntry,
                                               LPENTRYID* lppEIDNewEntry) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResolveName(ULONG_PTR ulUIParam, ULONG ulFlags,
                                                  LPMAPITSTR lpszNewEntryTitle,
                                                  LPADRLIST lpAdrList) = 0;
    virtual HRESULT STDMETHODCALLTYPE Address(ULONG_PTR* lpulUIParam, LPADRPARM lpAdrParms,
                                              LPADRLIST* lppAdrList) = 0;
    virtual HRESULT STDMETHODCALLTYPE Details(ULONG_PTR* lpulUIParam, LPFNDISMISS lpfnDismiss,
                                              LPVOID lpvDismissContext, ULONG cbEntryID,
                                              LPENTRYID lpEntryID, LPFNBUTTON lpfButtonCallback,
                                              LPVOID lpvButtonContext, LPMAPITSTR lpszButtonText,
                                              ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE RecipOptions(ULONG_PTR ulUIParam, ULONG ulFlags,
                                                   LPADRENTRY lpRecip) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDefaultRecipOpt(LPSTR lpszAdrType, ULONG ulFlags,
                                                           ULONG* lpcValues,
                                                           LPSPropValue* lppOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPAB(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPAB(ULONG cbEntryID, LPENTRYID lpEntryID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultDir(ULONG* lpcbEntryID,
                                                    LPENTRYID* lppEntryID) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultDir(ULONG cbEntryID, LPENTRYID lpEntryID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSearchPath(ULONG ulFlags, LPSRowSet* lppSearchPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSearchPath(ULONG ulFlags, LPSRowSet lpSearchPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE PrepareRecips(ULONG ulFlags, LPSPropTagArray lpPropTagArray,
                                                    LPADRLIST lpRecipList) = 0;
};

struct IProfAdmin : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hResult, ULONG ulFlags,
                                                   LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateProfile(LPMAPITSTR lpszProfileName,
                                                    LPMAPITSTR lpszPassword, ULONG_PTR ulUIParam,
                                                    ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteProfile(LPMAPITSTR lpszProfileName,
                                                    ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ChangeProfilePassword(LPMAPITSTR lpszProfileName,
                                                            LPMAPITSTR lpszOldPassword,
                                                            LPMAPITSTR lpszNewPassword,
                                                            ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyProfile(LPMAPITSTR lpszOldProfileName,
                                                  LPMAPITSTR lpszOldPassword,
                                                  LPMAPITSTR lpszNewProfileName,
                                                  ULONG_PTR ulUIParam, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenameProfile(LPMAPITSTR lpszOldProfileName,
                                                    LPMAPITSTR lpszOldPassword,
                                                    LPMAPITSTR lpszNewProfileName,
                                                    ULONG_PTR ulUIParam, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultProfile(LPMAPITSTR lpszProfileName,
                                                        ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdminServices(LPMAPITSTR lpszProfileName,
                                                    LPMAPITSTR lpszPassword, ULONG_PTR ulUIParam,
                                                    ULONG ulFlags,
                                                    LPSERVICEADMIN* lppServiceAdmin) = 0;
};

struct IMAPISession : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hResult, ULONG ulFlags,
                                                   LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID,
                                                   LPENTRYID lpEntryID, LPCIID lpInterface,
                                                   ULONG ulFlags, LPMDB* lppMDB) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface,
                                                      ULONG ulFlags, LPADRBOOK* lppAdrBook) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface,
                                                         ULONG ulFlags,
                                                         LPPROFSECT* lppProfSect) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatusTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID,
                                                LPCIID lpInterface, ULONG ulFlags,
                                                ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1,
                                                      ULONG cbEntryID2, LPENTRYID lpEntryID2,
                                                      ULONG ulFlags, ULONG* lpulResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(ULONG cbEntryID, LPENTRYID lpEntryID,
                                             ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                                             ULONG_PTR* lpulConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR ulConnection) = 0;
    virtual HRESULT STDMETHODCALLTYPE MessageOptions(ULONG_PTR ulUIParam, ULONG ulFlags,
                                                     LPMAPITSTR lpszAdrType,
                                                     LPMESSAGE lpMessage) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDefaultMessageOpt(LPMAPITSTR lpszAdrType,
                                                             ULONG ulFlags, ULONG* lpcValues,
                                                             LPSPropValue* lppOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumAdrTypes(ULONG ulFlags, ULONG* lpcAdrTypes,
                                                   LPMAPITSTR** lpppszAdrTypes) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryIdentity(ULONG* lpcbEntryID,
                                                    LPENTRYID* lppEntryID) = 0;
    virtual HRESULT STDMETHODCALLTYPE Logoff(ULONG_PTR ulUIParam, ULONG ulFlags,
                                             ULONG ulReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultStore(ULONG ulFlags, ULONG cbEntryID,
                                                      LPENTRYID lpEntryID) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdminServices(ULONG ulFlags,
                                                    LPSERVICEADMIN* lppServiceAdmin) = 0;
    virtual HRESULT STDMETHODCALLTYPE ShowForm(ULONG_PTR ulUIParam, LPMDB lpMsgStore,
                                               LPMAPIFOLDER lpParentFolder, LPCIID lpInterface,
                                               ULONG ulMessageToken, LPMESSAGE lpMessageSent,
                                               ULONG ulFlags, ULONG ulMessageStatus,
                                               ULONG ulMessageFlags, ULONG ulAccess,
                                               LPSTR lpszMessageClass) = 0;
    virtual HRESULT STDMETHODCALLTYPE PrepareForm(LPCIID lpInterface, LPMESSAGE lpMessage,
                                                  ULONG* lpulMessageToken) = 0;
};
