// SPDX-License-Identifier: MIT
// What a recipient of the address book stands for when a message is sent:
// the SMTP addresses behind a mail user, an Exchange-type user or a whole
// distribution list, however deeply nested.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "provider/contacts/directory.h"

namespace mb::provider {

struct SmtpRecipient {
    std::string displayName;  // UTF-8
    std::string address;
};

struct Expansion {
    std::vector<SmtpRecipient> recipients;  // in list order, each address once
    std::vector<std::string> unreachable;   // display names of members without an SMTP address
};

// Lists that hold each other can branch at every level; these bound what one
// message may cost, as OutlookGetAddrs bounds one request: a list nested
// deeper than kMaxListDepth (the recipient itself is level 1), or opened past
// kMaxListsOpened, contributes nothing.
inline constexpr std::size_t kMaxListDepth = 25;
inline constexpr std::size_t kMaxListsOpened = 10000;

// Lists opened so far for one message, shared by all of its recipients.
struct ExpansionBudget {
    std::size_t listsOpened = 0;
};

// Expands the entry an identifier names. Each list is expanded once, so
// cycles end; MAPI_E_UNKNOWN_ENTRYID for an identifier the directory does not
// know.
HRESULT expandForDelivery(const Directory& directory, const BYTE* entryId, ULONG size,
                          Expansion& out, ExpansionBudget& budget);
// The same with a budget of its own.
HRESULT expandForDelivery(const Directory& directory, const BYTE* entryId, ULONG size,
                          Expansion& out);

// What makes two SMTP addresses the same mailbox: the local part as written,
// the domain without case (a domain name is case-blind, a local part need not
// be).
std::string mailboxKey(std::string_view address);

}  // namespace mb::provider
