// SPDX-License-Identifier: MIT
// Entry identifiers of the store and its folders.
//
// Layout (24 bytes): four zero flag bytes, the store provider's 16-byte
// MAPIUID, a kind byte (store or folder), the folder's number and two zero
// bytes. Anything else is MAPI_E_INVALID_ENTRYID; no field is trusted before
// the size and the identifier check out.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "mapi/mapi.h"

namespace mb::provider {

enum class FolderId : std::uint8_t { Outbox = 1, SentItems = 2, DeletedItems = 3, Drafts = 4 };

inline constexpr FolderId kAllFolders[] = {FolderId::Outbox, FolderId::SentItems,
                                           FolderId::DeletedItems, FolderId::Drafts};

// The Maildir folder name under the store's root ("Sent Items").
const char* folderName(FolderId id);

std::vector<BYTE> storeEntryId();
std::vector<BYTE> folderEntryId(FolderId id);

bool isStoreEntryId(ULONG size, const ENTRYID* id);
// The folder an identifier names, or nothing when it names none of ours.
std::optional<FolderId> parseFolderEntryId(ULONG size, const ENTRYID* id);

}  // namespace mb::provider
