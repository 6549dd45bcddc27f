// SPDX-License-Identifier: MIT
// Distribution lists expanded for the store as it files a message: the
// address book's vCards read once per message, every list flattened into its
// members' SMTP addresses within one budget for the whole message (see
// provider/contacts/expand.h).
#pragma once

#include <vector>

#include "provider/store/store.h"

namespace mb::provider {

std::vector<ListMembers> expandMessageLists(const Profile& profile,
                                            const std::vector<std::vector<BYTE>>& entryIds);

}  // namespace mb::provider
