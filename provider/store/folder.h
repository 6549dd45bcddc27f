// SPDX-License-Identifier: MIT
// One folder of the store, as an IMAPIFolder: CreateMessage, OpenEntry of
// another folder of the store, and its identity properties. Listing and
// moving messages are not offered: a message is a file in the folder's
// Maildir, for mail programs to read.
#pragma once

#include <memory>

#include "provider/store/store.h"

namespace mb::provider {

class Folder final : public PropObject<IMAPIFolder, IID_IMAPIFolder> {
  public:
    static Folder* create(std::shared_ptr<const StoreContext> context, FolderId id);

    HRESULT STDMETHODCALLTYPE GetContentsTable(ULONG, LPMAPITABLE*) override;
    HRESULT STDMETHODCALLTYPE GetHierarchyTable(ULONG, LPMAPITABLE*) override;
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                        ULONG ulFlags, ULONG* lpulObjType,
                                        LPUNKNOWN* lppUnk) override;
    HRESULT STDMETHODCALLTYPE SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override;
    HRESULT STDMETHODCALLTYPE GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*,
                                                ULONG*) override;
    HRESULT STDMETHODCALLTYPE CreateMessage(LPCIID lpInterface, ULONG ulFlags,
                                            LPMESSAGE* lppMessage) override;
    HRESULT STDMETHODCALLTYPE CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS,
                                           ULONG) override;
    HRESULT STDMETHODCALLTYPE DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS,
                                             ULONG) override;
    HRESULT STDMETHODCALLTYPE CreateFolder(ULONG, LPMAPITSTR, LPMAPITSTR, LPCIID, ULONG,
                                           LPMAPIFOLDER*) override;
    HRESULT STDMETHODCALLTYPE CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPMAPITSTR, ULONG_PTR,
                                         LPMAPIPROGRESS, ULONG) override;
    HRESULT STDMETHODCALLTYPE DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS,
                                           ULONG) override;
    HRESULT STDMETHODCALLTYPE SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;
    HRESULT STDMETHODCALLTYPE GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override;
    HRESULT STDMETHODCALLTYPE SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override;
    HRESULT STDMETHODCALLTYPE SaveContentsSort(LPSSortOrderSet, ULONG) override;
    HRESULT STDMETHODCALLTYPE EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override;

  private:
    Folder(std::shared_ptr<const StoreContext> context, FolderId id);
    ~Folder() override = default;

    std::optional<Property> computed(ULONG propId) const override;
    SCODE check(const SPropValue&) const override { return MAPI_E_NO_ACCESS; }

    std::shared_ptr<const StoreContext> context_;
    const FolderId id_;
};

}  // namespace mb::provider
