// SPDX-License-Identifier: MIT
#include "commands/exchange_smtp.h"

#include "commands/default_store.h"
#include "commands/recipients.h"

namespace {

std::optional<std::string> smtpOfFirstRecipient(MapiSession& session, IMessage* message) {
    MapiRef<IMAPITable> recipients;
    if (session.record(message->GetRecipientTable(0, recipients.out())) < 0) {
        return std::nullopt;
    }
    MapiRows rows(session.allocator());
    if (session.record(recipients->QueryRows(1, 0, rows.out())) < 0 || rows.get() == nullptr ||
        rows->cRows != 1 || rows->aRow[0].cValues == 0) {
        return std::nullopt;
    }
    const SRow& row = rows->aRow[0];
    for (ULONG i = 0; row.lpProps != nullptr && i < row.cValues; ++i) {
        if (row.lpProps[i].ulPropTag == PR_SMTP_ADDRESS_A && row.lpProps[i].Value.lpszA) {
            return std::string(row.lpProps[i].Value.lpszA);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> exchangeToSmtp(MapiSession& session, const char* name) {
    uint32_t parent = 0;
    session.readNumber("parent", "%ul", &parent);
    DefaultStore store(session.allocator());
    if (!openDefaultStore(session, parent, store)) {
        return std::nullopt;
    }
    MapiBuffer<SPropValue> deletedItems(session.allocator());
    if (!readEntryId(session, store.store.get(), PR_IPM_WASTEBASKET_ENTRYID, deletedItems)) {
        return std::nullopt;
    }
    MapiRef<IMAPIFolder> folder;
    ULONG objectType = 0;
    if (session.record(store.store->OpenEntry(
            deletedItems->Value.bin.cb, reinterpret_cast<LPENTRYID>(deletedItems->Value.bin.lpb),
            nullptr, MAPI_BEST_ACCESS, &objectType, reinterpret_cast<LPUNKNOWN*>(folder.out()))) <
        0) {
        return std::nullopt;
    }
    // Never saved: released, it leaves nothing in the folder.
    MapiRef<IMessage> message;
    if (session.record(folder->CreateMessage(nullptr, 0, message.out())) < 0) {
        return std::nullopt;
    }
    MapiRef<IAddrBook> addressBook;
    if (session.record(session.logonSession()->OpenAddressBook(
            0, nullptr, session.silent() != 0 ? AB_NO_DIALOG : 0, addressBook.out())) < 0) {
        return std::nullopt;
    }
    RecipientSlot to = RecipientSlot::fromText(name);
    MapiAddressList list(session.allocator(), resolveRecipients(session, addressBook.get(), parent,
                                                                &to, nullptr, nullptr, true));
    if (list.get() == nullptr ||
        session.record(message->ModifyRecipients(MODRECIP_ADD, list.get())) < 0) {
        return std::nullopt;
    }
    return smtpOfFirstRecipient(session, message.get());
}
