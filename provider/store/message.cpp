// SPDX-License-Identifier: MIT
#include "provider/store/message.h"

#include <sys/stat.h>

#include <new>

#include "provider/com/abi_guard.h"
#include "provider/store/attach.h"
#include "provider/store/message_recipients.h"
#include "provider/com/table.h"

namespace mb::provider {

Message* Message::create(std::shared_ptr<const StoreContext> context, FolderId folder) {
    return new Message(std::move(context), folder);
}

Message::Message(std::shared_ptr<const StoreContext> context, FolderId folder)
    : PropObject(context->profile.rejectUnicode), context_(std::move(context)), folder_(folder) {}

HRESULT Message::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject != nullptr && IsEqualIID(riid, kMessageImplId)) {
        AddRef();
        *ppvObject = this;
        return S_OK;
    }
    return PropObject::QueryInterface(riid, ppvObject);
}

std::optional<Property> Message::computed(ULONG propId) const {
    if (propId == PROP_ID(PR_OBJECT_TYPE)) {
        return Property::ofLong(PR_OBJECT_TYPE, MAPI_MESSAGE);
    }
    if (propId == PROP_ID(PR_STORE_ENTRYID)) {
        return Property::ofBinary(PR_STORE_ENTRYID, storeEntryId());
    }
    if (propId == PROP_ID(PR_PARENT_ENTRYID)) {
        return Property::ofBinary(PR_PARENT_ENTRYID, folderEntryId(folder_.load()));
    }
    if (propId == PROP_ID(PR_HASATTACH)) {
        return Property::ofBool(PR_HASATTACH, !attachments_.empty());
    }
    if (propId == PROP_ID(PR_MESSAGE_FLAGS)) {
        ULONG flags = MSGFLAG_READ | MSGFLAG_UNSENT | MSGFLAG_FROMME;
        flags |= attachments_.empty() ? 0 : MSGFLAG_HASATTACH;
        flags |= submitted_ ? MSGFLAG_SUBMIT : 0;
        return Property::ofLong(PR_MESSAGE_FLAGS, static_cast<LONG>(flags));
    }
    return std::nullopt;
}

SCODE Message::check(const SPropValue& value) const {
    switch (PROP_ID(value.ulPropTag)) {
        case PROP_ID(PR_OBJECT_TYPE):
        case PROP_ID(PR_STORE_ENTRYID):
        case PROP_ID(PR_PARENT_ENTRYID):
        case PROP_ID(PR_HASATTACH):
        case PROP_ID(PR_MESSAGE_FLAGS):
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_MESSAGE_SIZE):
            return MAPI_E_COMPUTED;
        case PROP_ID(PR_SENTMAIL_ENTRYID):
            // Only a folder of this store can receive the sent copy.
            if (value.ulPropTag != PR_SENTMAIL_ENTRYID ||
                !parseFolderEntryId(value.Value.bin.cb,
                                    reinterpret_cast<const ENTRYID*>(value.Value.bin.lpb))) {
                return MAPI_E_INVALID_ENTRYID;
            }
            return S_OK;
        default:
            return S_OK;
    }
}

HRESULT Message::writable() const {
    return submitted_ ? MAPI_E_NO_ACCESS : S_OK;
}

HRESULT Message::SaveChanges(ULONG) {
    return abiGuard([&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(lock_);
        if (submitted_) {
            return MAPI_E_NO_ACCESS;
        }
        return file(folder_.load(), {});
    });
}

HRESULT Message::SubmitMessage(ULONG ulFlags) {
    if ((ulFlags & ~FORCE_SUBMIT) != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    return abiGuard([&]() -> HRESULT {
        std::string queued;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (submitted_) {
                return MAPI_E_NO_ACCESS;
            }
            std::vector<std::pair<std::string, std::string>> headers = {
                {"X-Mailbroker-Submitted", "yes"}};
            if (const Property* sent = bag_.find(PROP_ID(PR_SENTMAIL_ENTRYID)); sent != nullptr) {
                const auto folder =
                    parseFolderEntryId(static_cast<ULONG>(sent->bytes.size()),
                                       reinterpret_cast<const ENTRYID*>(sent->bytes.data()));
                if (folder) {
                    headers.emplace_back("X-Mailbroker-Sent-Folder", folderName(*folder));
                }
            }
            const HRESULT hr = file(FolderId::Outbox, headers, true);
            if (FAILED(hr)) {
                return hr;
            }
            submitted_ = true;
            queued = savedPath_;
        }
        // Submitting queues: a delivery that fails leaves the message for the
        // next logon, and the caller's answer does not depend on it.
        if (context_->deliver) {
            context_->deliver(context_->profile, queued);
        }
        return S_OK;
    });
}

HRESULT Message::SetReadFlag(ULONG) {
    return S_OK;  // a message being composed is the user's own, and read
}

HRESULT Message::ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) {
    return abiGuard([&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(lock_);
        HRESULT hr = writable();
        if (FAILED(hr)) {
            return hr;
        }
        return modifyRecipients(recipients_, nextRowId_, ulFlags, lpMods);
    });
}

HRESULT Message::GetRecipientTable(ULONG, LPMAPITABLE* lppTable) {
    if (lppTable == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppTable = nullptr;
    return abiGuard([&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(lock_);
        *lppTable = MemoryTable::create(recipientColumns(recipients_), recipients_);
        return S_OK;
    });
}

HRESULT Message::GetAttachmentTable(ULONG, LPMAPITABLE* lppTable) {
    if (lppTable == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppTable = nullptr;
    return abiGuard([&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<Row> rows;
        for (const auto& [number, attachment] : attachments_) {
            Row row = {Property::ofLong(PR_ATTACH_NUM, static_cast<LONG>(number))};
            for (ULONG tag : {PR_ATTACH_FILENAME_A, PR_DISPLAY_NAME_A}) {
                if (auto text = attachment.props.text(PROP_ID(tag))) {
                    row.push_back(Property::ofString8(tag, *text));
                }
            }
            rows.push_back(std::move(row));
        }
        *lppTable = MemoryTable::create({PR_ATTACH_NUM, PR_ATTACH_FILENAME_A, PR_DISPLAY_NAME_A},
                                        std::move(rows));
        return S_OK;
    });
}

HRESULT Message::CreateAttach(LPCIID, ULONG, ULONG* lpulAttachmentNum, LPATTACH* lppAttach) {
    if (lppAttach == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppAttach = nullptr;
    return abiGuard([&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(lock_);
        HRESULT hr = writable();
        if (FAILED(hr)) {
            return hr;
        }
        const ULONG number = nextAttachment_++;
        *lppAttach = Attach::create(this, number);
        if (lpulAttachmentNum != nullptr) {
            *lpulAttachmentNum = number;
        }
        return S_OK;
    });
}

HRESULT Message::OpenAttach(ULONG, LPCIID, ULONG, LPATTACH* lppAttach) {
    if (lppAttach != nullptr) {
        *lppAttach = nullptr;
    }
    return MAPI_E_NO_SUPPORT;
}

HRESULT Message::DeleteAttach(ULONG ulAttachmentNum, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
    std::lock_guard<std::mutex> guard(lock_);
    HRESULT hr = writable();
    if (FAILED(hr)) {
        return hr;
    }
    return forget(ulAttachmentNum) ? S_OK : MAPI_E_NOT_FOUND;
}

HRESULT Message::commitAttachment(ULONG number, AttachmentData attachment) {
    std::lock_guard<std::mutex> guard(lock_);
    HRESULT hr = writable();
    if (SUCCEEDED(hr)) {
        forget(number);  // a replaced attachment's file counts no more
        hr = share(attachment);
    }
    if (SUCCEEDED(hr)) {
        ownDataFiles_ += attachment.data && attachment.data != shared_ ? 1 : 0;
        attachments_[number] = std::move(attachment);
    }
    return hr;
}

bool Message::forget(ULONG number) {
    const auto found = attachments_.find(number);
    if (found == attachments_.end()) {
        return false;
    }
    ownDataFiles_ -= found->second.data && found->second.data != shared_ ? 1 : 0;
    attachments_.erase(found);
    return true;
}

}  // namespace mb::provider
