// SPDX-License-Identifier: MIT
// Entry identifiers of address-book entries.
//
// An entry of the loaded vCards: 4 zero flag bytes, this provider's address
// book UID, a format byte, the entry's position in the directory (4 bytes,
// little-endian) and a 64-bit check of its name and address, so that an
// identifier kept from another load of changed files is refused rather than
// taken for a different person.
//
// A one-off recipient: MAPI's published one-off layout (flags, the one-off
// UID, a version word and a flags word, then display name, address type and
// address as NUL-terminated 8-bit strings).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mapi/mapi.h"

namespace mb::provider {

struct AbEntryIdParts {
    bool oneOff = false;
    std::uint32_t index = 0;  // directory entries
    std::uint64_t check = 0;
    std::string displayName, addrType, address;  // one-offs
};

std::vector<BYTE> makeDirectoryEntryId(std::uint32_t index, std::uint64_t check);
std::vector<BYTE> makeOneOffEntryId(const std::string& displayName, const std::string& addrType,
                                    const std::string& address);

// False for anything that is not one of the two layouts above.
bool parseAbEntryId(const BYTE* bytes, ULONG size, AbEntryIdParts& parts);

// FNV-1a over the given texts, each followed by a NUL.
std::uint64_t entryCheck(std::initializer_list<std::string_view> texts);

}  // namespace mb::provider
