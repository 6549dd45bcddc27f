// SPDX-License-Identifier: MIT
// Recipient texts to MAPI recipients: the texts are split at the separators
// (the comma only while the user has not turned it off) and resolved by the
// address book.
#pragma once

#include <vector>

#include "foundation/ks_string.h"
#include "mapi/mapi.h"

class MapiSession;

// One recipient slot a caller passes: without text, or with a NUL-terminated
// 8-bit text. Splitting writes NULs into the text, and the entries' display
// names point into it, so it must outlive the list built from it.
struct RecipientSlot {
    bool hasText = false;
    std::vector<char> text;

    // The value's UTF-8 bytes, or no text when the request lacks the key.
    static RecipientSlot fromParam(const KsString* value);
    static RecipientSlot fromText(const char* text);
    char* chars() { return hasText ? text.data() : nullptr; }
};

// A flag under the host product's Sendmail settings key; the key depends on
// whether the Broker runs from a folder named Tavro.
bool readSendmailFlag(const WCHAR* valueName);

// Builds one ADRLIST from the passed slots (null: not passed), in the order
// to, cc, bcc, and resolves it; a silent first attempt that fails is retried
// with the dialog. Every MAPI result goes into the session's status. Returns
// the resolved list, which the caller frees with MapiSession::freeAddressList,
// or null.
LPADRLIST resolveRecipients(MapiSession& session, IAddrBook* addressBook, ULONG_PTR parent,
                            RecipientSlot* to, RecipientSlot* cc, RecipientSlot* bcc,
                            bool allowDialog);
