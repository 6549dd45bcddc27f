// SPDX-License-Identifier: MIT
// The text of a To, Cc or Bcc field, taken apart into recipients, and the
// checks a recipient passes before the message is handed to the client.
//
// People type entries separated by ',' or ';'. A separator inside double
// quotes or angle brackets belongs to the entry ("Smith, John"
// <js@example.org>), so the field is split the way a mail header is read,
// not at every comma.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "provider/ui/dialog_protocol.h"

namespace mb::dialogs {

struct RecipientText {
    std::string name;     // display name, unquoted; may be empty
    std::string address;  // the part in <...>, or the whole entry when it has '@'
    std::string text;     // the entry as typed, trimmed

    bool hasAddress() const { return !address.empty(); }
};

// Entries of a field, trimmed; empty entries are dropped.
std::vector<std::string> splitRecipients(std::string_view field);

// One entry: "Name <addr>", "\"Name\" <addr>", "addr" or a bare name (no
// address: a list or a name the address book resolves).
RecipientText parseRecipient(std::string_view entry);

// The entry as the field shows it: "Name <addr>", the address alone when the
// name is empty or the address itself, the name alone without an address.
// A name holding a separator or a quote is quoted.
std::string formatRecipient(std::string_view name, std::string_view address);

// Everything wrong with a field's entries, one sentence each naming the
// entry: a ';' that cannot travel to the client, an address the provider
// would refuse. Empty when the field may be sent.
std::vector<std::string> checkRecipients(const std::vector<std::string>& entries);

// What the client gets for one entry: the address alone when the display
// name would be split apart on its way (the Broker splits at commas too),
// else the entry as "Name <addr>".
std::string clientRecipient(const RecipientText& recipient);

// The word under the cursor: [begin, end) in bytes of the entry that holds
// cursorByte, leading blanks excluded. Completion replaces exactly this.
struct WordSpan {
    std::size_t begin = 0, end = 0;
};
WordSpan entryAt(std::string_view field, std::size_t cursorByte);

// Whether a book entry's display name or address starts with prefix, or
// has a word that does, ignoring ASCII case.
bool entryMatches(const Entry& entry, std::string_view prefix);

// Book entries whose display name or address starts with prefix, or has a
// word that does, ignoring ASCII case; at most `limit`, in book order.
std::vector<const Entry*> completions(const std::vector<Entry>& book, std::string_view prefix,
                                      std::size_t limit = 20);

}  // namespace mb::dialogs
