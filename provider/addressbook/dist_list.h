// SPDX-License-Identifier: MIT
// A distribution list of the address book: its properties, and a contents
// table with one row per direct member (nested lists appear as rows whose
// PR_OBJECT_TYPE is MAPI_DISTLIST; the caller opens them in turn, so a cycle
// costs the provider nothing). Members can be opened through OpenEntry.
#pragma once

#include <memory>

#include "provider/contacts/directory.h"
#include "provider/addressbook/ab_prop.h"

namespace mb::provider {

class DistList final : public AbProp<IDistList, IID_IDistList> {
  public:
    // Created with one reference.
    static DistList* create(std::shared_ptr<const Directory> directory, const AbEntry& entry);

    // The contents table's columns unless the caller sets others.
    static const std::vector<ULONG>& memberColumns();

    HRESULT STDMETHODCALLTYPE GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT STDMETHODCALLTYPE GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                        ULONG ulFlags, ULONG* lpulObjType,
                                        LPUNKNOWN* lppUnk) override;
    HRESULT STDMETHODCALLTYPE SetSearchCriteria(LPSRestriction lpRestriction,
                                                LPENTRYLIST lpContainerList,
                                                ULONG ulSearchFlags) override;
    HRESULT STDMETHODCALLTYPE GetSearchCriteria(ULONG ulFlags, LPSRestriction* lppRestriction,
                                                LPENTRYLIST* lppContainerList,
                                                ULONG* lpulSearchState) override;
    HRESULT STDMETHODCALLTYPE CreateEntry(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulCreateFlags,
                                          LPMAPIPROP* lppMAPIPropEntry) override;
    HRESULT STDMETHODCALLTYPE CopyEntries(LPENTRYLIST lpEntries, ULONG_PTR ulUIParam,
                                          LPMAPIPROGRESS lpProgress, ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE DeleteEntries(LPENTRYLIST lpEntries, ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE ResolveNames(LPSPropTagArray lpPropTagArray, ULONG ulFlags,
                                           LPADRLIST lpAdrList, LPFlagList lpFlagList) override;

  private:
    DistList(std::shared_ptr<const Directory> directory, const AbEntry& entry);

    const std::shared_ptr<const Directory> directory_;
    const std::vector<std::size_t> members_;
};

// Opens an address entry: a DistList for a list, an AbMailUser otherwise.
// MAPI_E_UNKNOWN_ENTRYID for an identifier the directory does not know.
HRESULT openAbEntry(const std::shared_ptr<const Directory>& directory, ULONG cbEntryID,
                    LPENTRYID lpEntryID, LPCIID lpInterface, ULONG* lpulObjType, LPUNKNOWN* lppUnk);

}  // namespace mb::provider
