// SPDX-License-Identifier: MIT
// A message's recipient rows: ModifyRecipients' rules and what the
// renderer needs from a row.
#pragma once

#include <string>
#include <vector>

#include "provider/com/restriction.h"

namespace mb::provider {

// Applies ModifyRecipients(flags, list) to rows, all or nothing. Entries
// without values (a resolver leaves them) are skipped. Each row gets both
// text widths of its string values, so that a table column in either
// width finds them, and a PR_ROWID.
HRESULT modifyRecipients(std::vector<Row>& rows, ULONG& nextRowId, ULONG flags,
                         const ADRLIST* list);

// The columns of a recipient table: every tag of every row, in first-seen
// order.
std::vector<ULONG> recipientColumns(const std::vector<Row>& rows);

struct RecipientAddress {
    ULONG type = MAPI_TO;
    std::string name;     // UTF-8
    std::string address;  // PR_SMTP_ADDRESS, else an SMTP PR_EMAIL_ADDRESS, else the name
};

RecipientAddress describeRecipient(const Row& row);

}  // namespace mb::provider
