// SPDX-License-Identifier: MIT
// A message being composed, as an IMessage.
//
// Properties, recipients and attachments live in memory (attachment data in
// unnamed scratch files, see maildir.h) until the message is filed:
// - SaveChanges renders it into its folder's Maildir (new/); saving again
//   replaces that file.
// - SubmitMessage renders it into the Outbox, marked for the spooler with
//   the header "X-Mailbroker-Submitted: yes" and, when PR_SENTMAIL_ENTRYID
//   names a folder, "X-Mailbroker-Sent-Folder: <folder name>"; a copy saved
//   earlier in another folder is removed. The message is then read-only.
// - Released unfiled, it leaves nothing behind.
// Bcc recipients are kept in a Bcc header; delivery must strip it, and every
// X-Mailbroker- header, before the message leaves the machine.
// The sender is the profile's (see chooseSender in store.h).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/scoped_fd.h"
#include "provider/com/restriction.h"
#include "provider/store/store.h"
#include "provider/ui/driver.h"

namespace mb::provider {

// QueryInterface with this identifier gives the provider's own Message
// (with a reference), so that the session can tell its messages from others.
inline constexpr IID kMessageImplId = {
    0x6d624d53, 0x7367, 0x4d49, {0x8c, 0x2e, 0x51, 0x0a, 0x93, 0x7f, 0x44, 0xd2}};

struct AttachmentData {
    PropertyBag props;
    std::shared_ptr<ScopedFd> data;    // null: no data
    std::uint64_t offset = 0;          // the data's place in that file
    std::int64_t length = -1;          // -1: to the end of the file
};

class Message final : public PropObject<IMessage, IID_IMessage> {
  public:
    static Message* create(std::shared_ptr<const StoreContext> context, FolderId folder);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE SaveChanges(ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT STDMETHODCALLTYPE OpenAttach(ULONG, LPCIID, ULONG, LPATTACH*) override;
    HRESULT STDMETHODCALLTYPE CreateAttach(LPCIID lpInterface, ULONG ulFlags,
                                           ULONG* lpulAttachmentNum, LPATTACH* lppAttach) override;
    HRESULT STDMETHODCALLTYPE DeleteAttach(ULONG ulAttachmentNum, ULONG_PTR, LPMAPIPROGRESS,
                                           ULONG) override;
    HRESULT STDMETHODCALLTYPE GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT STDMETHODCALLTYPE ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) override;
    HRESULT STDMETHODCALLTYPE SubmitMessage(ULONG ulFlags) override;
    HRESULT STDMETHODCALLTYPE SetReadFlag(ULONG ulFlags) override;

    const std::shared_ptr<const StoreContext>& context() const { return context_; }
    FolderId folder() const { return folder_.load(); }
    bool rejectUnicode() const { return context_->profile.rejectUnicode; }

    // An attachment's SaveChanges.
    HRESULT commitAttachment(ULONG number, AttachmentData attachment);

    // Files the message in Drafts for the compose window and describes it in
    // form, with each attachment's bytes in a file of its own name under
    // <store>/forms/<draft name>/.
    HRESULT fileDraft(ComposeForm& form);

  private:
    Message(std::shared_ptr<const StoreContext> context, FolderId folder);
    ~Message() override = default;

    std::optional<Property> computed(ULONG propId) const override;
    SCODE check(const SPropValue& value) const override;
    HRESULT writable() const override;

    // Renders into target's Maildir; the older copy is replaced or removed.
    // submitting: a message that could never be delivered is refused before
    // anything is filed: one with recipients none of which gives an address
    // (only empty lists: MAPI_E_NO_RECIPIENTS), a recipient address that is
    // not one (MAPI_E_INVALID_PARAMETER) or too long for SMTP
    // (MAPI_E_STRING_TOO_LONG), a subject over 16 KiB or a header block over
    // 512 KiB (MAPI_E_TOO_BIG). Called with lock_ held.
    HRESULT file(FolderId target, const std::vector<std::pair<std::string, std::string>>& headers,
                 bool submitting = false);
    // Keeps the number of open scratch files bounded: past kOwnDataFiles
    // attachments with a file of their own, a new attachment's data is
    // appended to one shared file, so a message with 10,000 attachments
    // holds a handful of descriptors, not 10,000. Called with lock_ held.
    HRESULT share(AttachmentData& attachment);
    // Removes an attachment, keeping ownDataFiles_. Called with lock_ held.
    bool forget(ULONG number);

    std::shared_ptr<const StoreContext> context_;
    std::atomic<FolderId> folder_;  // read by attachments without the lock
    std::vector<Row> recipients_;
    ULONG nextRowId_ = 1;
    std::map<ULONG, AttachmentData> attachments_;
    ULONG nextAttachment_ = 0;
    std::shared_ptr<ScopedFd> shared_;    // attachments' data past the first few
    std::size_t ownDataFiles_ = 0;        // attachments with a data file of their own
    std::uint64_t sharedEnd_ = 0;
    std::string savedPath_;  // where the message was last filed
    FolderId savedFolder_ = FolderId::Outbox;
    bool submitted_ = false;
};

}  // namespace mb::provider
