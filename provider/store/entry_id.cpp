// SPDX-License-Identifier: MIT
#include "provider/store/entry_id.h"

#include <cstring>

namespace mb::provider {
namespace {

// Random once, fixed forever: it tells our identifiers from anyone else's.
constexpr BYTE kProviderUid[16] = {0x6d, 0x62, 0x4d, 0x44, 0x1f, 0x9a, 0x4c, 0x27,
                                   0xb3, 0x58, 0x0e, 0xd1, 0x72, 0xa4, 0x35, 0xc6};
constexpr std::size_t kSize = 24;
constexpr BYTE kStoreKind = 1;
constexpr BYTE kFolderKind = 2;

std::vector<BYTE> make(BYTE kind, BYTE folder) {
    std::vector<BYTE> id(kSize, 0);
    std::memcpy(id.data() + 4, kProviderUid, sizeof kProviderUid);
    id[20] = kind;
    id[21] = folder;
    return id;
}

// Pointer to the 24 bytes when they carry our header, else null.
const BYTE* ours(ULONG size, const ENTRYID* id) {
    if (id == nullptr || size != kSize) {
        return nullptr;
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(id);
    static constexpr BYTE kZero[4] = {0, 0, 0, 0};
    if (std::memcmp(bytes, kZero, 4) != 0 ||
        std::memcmp(bytes + 4, kProviderUid, sizeof kProviderUid) != 0 || bytes[22] != 0 ||
        bytes[23] != 0) {
        return nullptr;
    }
    return bytes;
}

}  // namespace

const char* folderName(FolderId id) {
    switch (id) {
        case FolderId::Outbox:
            return "Outbox";
        case FolderId::SentItems:
            return "Sent Items";
        case FolderId::DeletedItems:
            return "Deleted Items";
        case FolderId::Drafts:
            return "Drafts";
    }
    return "Outbox";
}

std::vector<BYTE> storeEntryId() {
    return make(kStoreKind, 0);
}

std::vector<BYTE> folderEntryId(FolderId id) {
    return make(kFolderKind, static_cast<BYTE>(id));
}

bool isStoreEntryId(ULONG size, const ENTRYID* id) {
    const BYTE* bytes = ours(size, id);
    return bytes != nullptr && bytes[20] == kStoreKind && bytes[21] == 0;
}

std::optional<FolderId> parseFolderEntryId(ULONG size, const ENTRYID* id) {
    const BYTE* bytes = ours(size, id);
    if (bytes == nullptr || bytes[20] != kFolderKind) {
        return std::nullopt;
    }
    for (FolderId folder : kAllFolders) {
        if (bytes[21] == static_cast<BYTE>(folder)) {
            return folder;
        }
    }
    return std::nullopt;
}

}  // namespace mb::provider
