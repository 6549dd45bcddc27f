// What a recipient of the address book stands for when a message is sent:
// the SMTP addresses behind a mail user, an Exchange-type user or a whole
// distribution list, however deeply nested.
#pragma once

#include <string>
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

// Expands the entry an identifier names. Each list is expanded once, so
// cycles end; MAPI_E_UNKNOWN_ENTRYID for an identifier the directory does not
// know.
HRESULT expandForDelivery(const Directory& directory, const BYTE* entryId, ULONG size,
                          Expansion& out);

}  // namespace mb::provider
