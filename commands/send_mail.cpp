// SPDX-License-Identifier: MIT
#include "commands/send_mail.h"

#include "commands/default_store.h"
#include "commands/message_content.h"
#include "commands/recipients.h"

namespace {

char kNoteClass[] = "IPM.Note";

// Resolves the three recipient texts and adds them to the message; false when
// no list could be had (the status then says why).
bool addRecipients(MapiSession& session, IAddrBook* addressBook, IMessage* message,
                   bool allowDialog) {
    uint32_t parent = 0;
    session.readNumber("parent", "%ul", &parent);
    RecipientSlot to = RecipientSlot::fromParam(session.param("to"));
    RecipientSlot cc = RecipientSlot::fromParam(session.param("cc"));
    RecipientSlot bcc = RecipientSlot::fromParam(session.param("bcc"));
    // The slots outlive the list: unresolved display names point into them.
    MapiAddressList list(session.allocator(),
                         resolveRecipients(session, addressBook, parent, &to, &cc, &bcc,
                                           allowDialog));
    if (list.get() == nullptr) {
        return false;
    }
    session.record(message->ModifyRecipients(MODRECIP_ADD, list.get()));
    return true;
}

// The content: body, subject, attachments and message class. A failure of
// any of them does not stop the message, except a file of a silent message
// that cannot be read: that failure is returned.
HRESULT writeContent(MapiSession& session, IMessage* message) {
    const KsString* body = session.param("message");
    if (body != nullptr && !body->isEmpty()) {
        setTextProperty(session, message, PR_BODY_W, PR_BODY_A, *body);
    }
    const KsString* subject = session.param("subject");
    if (subject != nullptr && !subject->isEmpty()) {
        setTextProperty(session, message, PR_SUBJECT_W, PR_SUBJECT_A, *subject);
    }
    if (const KsString* paths = session.param("attachment")) {
        const HRESULT files = attachFiles(session, message, *paths);
        if (files < 0) {
            return files;
        }
    }
    SPropValue messageClass{};
    messageClass.ulPropTag = PR_MESSAGE_CLASS_A;
    messageClass.Value.lpszA = kNoteClass;
    session.record(message->SetProps(1, &messageClass, nullptr));
    return S_OK;
}

// Whether the store refused the message as composed: it has no one to go
// to (MAPI_E_NO_RECIPIENTS), or an address or subject that could never be
// delivered, or a header too large. Nothing was filed, and the host hears
// result 0 as when no recipient resolved.
bool refusedAsComposed(HRESULT hr) {
    return hr == MAPI_E_NO_RECIPIENTS || hr == MAPI_E_TOO_BIG || hr == MAPI_E_STRING_TOO_LONG ||
           hr == MAPI_E_INVALID_PARAMETER;
}

// False when the store refused the message as composed.
bool submit(MapiSession& session, IMsgStore* store, IMessage* message) {
    MapiBuffer<SPropValue> sentItems(session.allocator());
    if (readEntryId(session, store, PR_IPM_SENTMAIL_ENTRYID, sentItems)) {
        SPropValue fileIn{};
        fileIn.ulPropTag = PR_SENTMAIL_ENTRYID;
        fileIn.Value.bin = sentItems->Value.bin;
        message->SetProps(1, &fileIn, nullptr);  // its result is not kept
    }
    // The host must hear of a message that could not be submitted.
    const HRESULT submitted = message->SubmitMessage(FORCE_SUBMIT);
    if (submitted < 0) {
        session.setStatus(submitted);
    }
    return !refusedAsComposed(submitted);
}

int32_t compose(MapiSession& session, ULONG_PTR parent) {
    DefaultStore store(session.allocator());
    if (!openDefaultStore(session, parent, store)) {
        return 0;
    }
    MapiBuffer<SPropValue> outboxId(session.allocator());
    if (!readEntryId(session, store.store.get(), PR_IPM_OUTBOX_ENTRYID, outboxId)) {
        return 0;
    }
    MapiRef<IMAPIFolder> outbox;
    ULONG objectType = 0;
    if (session.record(store.store->OpenEntry(
            outboxId->Value.bin.cb, reinterpret_cast<LPENTRYID>(outboxId->Value.bin.lpb), nullptr,
            MAPI_BEST_ACCESS, &objectType, reinterpret_cast<LPUNKNOWN*>(outbox.out()))) < 0) {
        return 0;
    }
    MapiRef<IMessage> message;
    if (session.record(outbox->CreateMessage(nullptr, 0, message.out())) < 0) {
        return 0;
    }
    const bool silent = session.silent() != 0;
    MapiRef<IAddrBook> addressBook;
    if (session.record(session.logonSession()->OpenAddressBook(
            0, nullptr, silent ? AB_NO_DIALOG : 0, addressBook.out())) < 0) {
        return 0;
    }
    int32_t composed = 0;
    HRESULT unreadFile = S_OK;
    if (addRecipients(session, addressBook.get(), message.get(), !silent)) {
        try {
            unreadFile = writeContent(session, message.get());
        } catch (...) {
            // What was written stands; the message still goes out.
        }
        composed = 1;
    }
    addressBook.reset();
    if (unreadFile < 0) {
        // Released unsaved and unsubmitted, the message leaves nothing behind.
        session.setStatus(unreadFile);
        return 0;
    }
    if (session.status() < 0) {
        return composed;
    }
    if (silent) {
        return submit(session, store.store.get(), message.get()) ? composed : 0;
    }
    ULONG token = 0;
    if (session.record(session.logonSession()->PrepareForm(nullptr, message.get(), &token)) < 0) {
        return 0;
    }
    message.reset();
    session.record(session.logonSession()->ShowForm(
        parent, store.store.get(), outbox.get(), nullptr, token, nullptr, MAPI_NEW_MESSAGE, 0,
        MSGFLAG_UNSENT, MAPI_ACCESS_MODIFY, kNoteClass));
    return composed;
}

}  // namespace

ParamMap sendMail(MapiSession& session) {
    int32_t silent = 0;
    session.readNumber("silent", "%d", &silent);
    session.setSilent(silent);
    uint32_t parent = 0;
    session.readNumber("parent", "%ul", &parent);
    KsString result;
    result.format(KsString("%d"), compose(session, parent));
    ParamMap values;
    values[KsString("result")] = result;
    return values;
}
