// SPDX-License-Identifier: MIT
// The profile's message store: four Maildir folders under the profile's
// store path (Outbox, Sent Items, Deleted Items, Drafts), each made when
// first opened.
//
// A store is one row of the session's stores table and one IMsgStore. Its
// GetProps offers the folder identifiers the Broker reads
// (PR_IPM_OUTBOX_ENTRYID, PR_IPM_SENTMAIL_ENTRYID, PR_IPM_WASTEBASKET_ENTRYID,
// PR_IPM_DRAFTS_ENTRYID) and PR_VALID_FOLDER_MASK; OpenEntry of a folder
// identifier gives its IMAPIFolder.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "provider/store/entry_id.h"
#include "provider/store/maildir.h"
#include "profiles/profiles.h"
#include "provider/store/store_object.h"

namespace mb::provider {

// Hands a message SubmitMessage has just queued (the path of its file in the
// Outbox) to delivery. The store files messages; what delivers them sits
// above it (the session wires in the spooler), so the store knows it only as
// this call.
using DeliverQueued = std::function<void(const Profile& profile, const std::string& path)>;

// What one distribution-list recipient stands for when a message is filed.
struct ListMembers {
    HRESULT result = S_OK;  // MAPI_E_UNKNOWN_ENTRYID: the address book has no such list now
    std::vector<std::string> addresses;    // the members' SMTP addresses, nested lists flattened
    std::vector<std::string> unreachable;  // display names of members without one
};

// Expands a message's distribution-list recipients (their entry identifiers,
// in order; one result each) against the profile's address books. As with
// delivery, what reads the address book sits above the store (the session
// wires it in), so the store knows it only as this call.
using ExpandLists = std::function<std::vector<ListMembers>(
    const Profile& profile, const std::vector<std::vector<BYTE>>& entryIds)>;

// What every object of one opened store shares.
struct StoreContext {
    Profile profile;
    DeliverQueued deliver;  // may be empty: submitted messages then wait in the Outbox
    ExpandLists expandLists;  // may be empty: a message to a list then cannot be filed
    std::string fromName;     // UTF-8
    std::string fromAddress;  // never empty

    Maildir folder(FolderId id) const;
};

// The sender of a profile: sender_name and sender_address; without an
// address, the login name at the host's name (user@host), and without a
// name the account's full name from the password database.
void chooseSender(const Profile& profile, std::string& name, std::string& address);

// The stores table's one row, for GetMsgStoresTable.
IMAPITable* makeStoresTable(const Profile& profile, HRESULT& result);

class Store final : public PropObject<IMsgStore, IID_IMsgStore> {
  public:
    static Store* create(const Profile& profile, DeliverQueued deliver,
                         ExpandLists expandLists = {});

    HRESULT STDMETHODCALLTYPE Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK,
                                     ULONG_PTR*) override;
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR) override;
    HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1,
                                              ULONG cbEntryID2, LPENTRYID lpEntryID2, ULONG ulFlags,
                                              ULONG* lpulResult) override;
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                        ULONG ulFlags, ULONG* lpulObjType,
                                        LPUNKNOWN* lppUnk) override;
    HRESULT STDMETHODCALLTYPE SetReceiveFolder(LPMAPITSTR, ULONG, ULONG, LPENTRYID) override;
    HRESULT STDMETHODCALLTYPE GetReceiveFolder(LPMAPITSTR, ULONG, ULONG*, LPENTRYID*,
                                               LPMAPITSTR*) override;
    HRESULT STDMETHODCALLTYPE GetReceiveFolderTable(ULONG, LPMAPITABLE*) override;
    HRESULT STDMETHODCALLTYPE StoreLogoff(ULONG* lpulFlags) override;
    HRESULT STDMETHODCALLTYPE AbortSubmit(ULONG, LPENTRYID, ULONG) override;
    HRESULT STDMETHODCALLTYPE GetOutgoingQueue(ULONG, LPMAPITABLE*) override;
    HRESULT STDMETHODCALLTYPE SetLockState(LPMESSAGE, ULONG) override;
    HRESULT STDMETHODCALLTYPE FinishedMsg(ULONG, ULONG, LPENTRYID) override;
    HRESULT STDMETHODCALLTYPE NotifyNewMail(LPNOTIFICATION) override;

    const std::shared_ptr<const StoreContext>& context() const { return context_; }

    // Opens one folder, creating its Maildir when missing.
    HRESULT openFolder(FolderId id, LPMAPIFOLDER* out) const;

  private:
    explicit Store(std::shared_ptr<const StoreContext> context);
    ~Store() override = default;

    std::optional<Property> computed(ULONG propId) const override;
    SCODE check(const SPropValue&) const override { return MAPI_E_NO_ACCESS; }

    std::shared_ptr<const StoreContext> context_;
};

}  // namespace mb::provider
