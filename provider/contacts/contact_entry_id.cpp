// SPDX-License-Identifier: MIT
#include "provider/contacts/contact_entry_id.h"

#include <algorithm>
#include <cstring>

namespace mb::provider {
namespace {

// Made up for this provider; only needs to differ from every other UID.
constexpr BYTE kDirectoryUid[16] = {0x6D, 0x62, 0xAB, 0x01, 0x5C, 0x2E, 0x47, 0x9A,
                                    0x8B, 0x13, 0xF0, 0x4D, 0x27, 0xC6, 0x91, 0x3E};
// MAPI's published one-off UID.
constexpr BYTE kOneOffUid[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
constexpr BYTE kDirectoryFormat = 1;
constexpr std::size_t kHeader = 4 + 16;
constexpr std::size_t kDirectorySize = kHeader + 1 + 4 + 8;
constexpr std::uint16_t kOneOffNoRichInfo = 0x0001;

void putLe(std::vector<BYTE>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
}

std::uint64_t getLe(const BYTE* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | p[i];
    }
    return value;
}

std::vector<BYTE> header(const BYTE (&uid)[16]) {
    std::vector<BYTE> out(kHeader, 0);
    std::copy(std::begin(uid), std::end(uid), out.begin() + 4);
    return out;
}

}  // namespace

std::uint64_t entryCheck(std::initializer_list<std::string_view> texts) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (std::string_view text : texts) {
        for (char c : text) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
        }
        hash *= 0x100000001B3ull;  // the NUL after each text
    }
    return hash;
}

std::vector<BYTE> makeDirectoryEntryId(std::uint32_t index, std::uint64_t check) {
    std::vector<BYTE> out = header(kDirectoryUid);
    out.push_back(kDirectoryFormat);
    putLe(out, index, 4);
    putLe(out, check, 8);
    return out;
}

std::vector<BYTE> makeOneOffEntryId(const std::string& displayName, const std::string& addrType,
                                    const std::string& address) {
    std::vector<BYTE> out = header(kOneOffUid);
    putLe(out, 0, 2);
    putLe(out, kOneOffNoRichInfo, 2);
    for (const std::string* text : {&displayName, &addrType, &address}) {
        out.insert(out.end(), text->begin(), text->end());
        out.push_back(0);
    }
    return out;
}

bool parseAbEntryId(const BYTE* bytes, ULONG size, AbEntryIdParts& parts) {
    if (bytes == nullptr || size < kHeader || getLe(bytes, 4) != 0) {
        return false;
    }
    const BYTE* uid = bytes + 4;
    if (std::memcmp(uid, kDirectoryUid, 16) == 0) {
        if (size != kDirectorySize || bytes[kHeader] != kDirectoryFormat) {
            return false;
        }
        parts = {};
        parts.index = static_cast<std::uint32_t>(getLe(bytes + kHeader + 1, 4));
        parts.check = getLe(bytes + kHeader + 5, 8);
        return true;
    }
    if (std::memcmp(uid, kOneOffUid, 16) != 0 || size < kHeader + 4) {
        return false;
    }
    // Only the 8-bit form is written here; a Unicode one-off is refused.
    if ((getLe(bytes + kHeader + 2, 2) & 0x8000) != 0) {
        return false;
    }
    const BYTE* p = bytes + kHeader + 4;
    const BYTE* end = bytes + size;
    std::string* fields[] = {&parts.displayName, &parts.addrType, &parts.address};
    parts = {};
    parts.oneOff = true;
    for (std::string* field : fields) {
        const BYTE* nul = std::find(p, end, BYTE{0});
        if (nul == end) {
            return false;
        }
        field->assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(nul - p));
        p = nul + 1;
    }
    return p == end && !parts.addrType.empty();
}

}  // namespace mb::provider
