// SPDX-License-Identifier: MIT
// Security identifiers: layout, text form and the SDDL aliases.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>

#include "pal/security_internal.h"

namespace {

constexpr size_t kSidHeader = 8;  // revision, count, 6-byte authority

// Aliases whose SIDs are the same on every machine. Domain-relative ones (DA,
// DU, LA, ...) are left out: they name nothing without a domain.
struct Alias {
    const char* name;
    const char* sid;
};
constexpr Alias kAliases[] = {
    {"WD", "S-1-1-0"},      {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},
    {"OW", "S-1-3-4"},      {"NU", "S-1-5-2"},      {"IU", "S-1-5-4"},
    {"SU", "S-1-5-6"},      {"AN", "S-1-5-7"},      {"ED", "S-1-5-9"},
    {"PS", "S-1-5-10"},     {"AU", "S-1-5-11"},     {"RC", "S-1-5-12"},
    {"SY", "S-1-5-18"},     {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},
    {"WR", "S-1-5-33"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
    {"BG", "S-1-5-32-546"}, {"PU", "S-1-5-32-547"}, {"AO", "S-1-5-32-548"},
    {"SO", "S-1-5-32-549"}, {"PO", "S-1-5-32-550"}, {"BO", "S-1-5-32-551"},
    {"RE", "S-1-5-32-552"}, {"RU", "S-1-5-32-554"}, {"RD", "S-1-5-32-555"},
    {"NO", "S-1-5-32-556"}, {"AC", "S-1-15-2-1"},   {"LW", "S-1-16-4096"},
    {"ME", "S-1-16-8192"},  {"MP", "S-1-16-8448"},  {"HI", "S-1-16-12288"},
    {"SI", "S-1-16-16384"},
};

std::vector<BYTE> makeSid(uint64_t authority, std::initializer_list<uint32_t> subs) {
    std::vector<BYTE> sid(kSidHeader + 4 * subs.size());
    sid[0] = SID_REVISION;
    sid[1] = static_cast<BYTE>(subs.size());
    for (int i = 0; i < 6; ++i) {
        sid[2 + i] = static_cast<BYTE>(authority >> (8 * (5 - i)));
    }
    size_t at = kSidHeader;
    for (uint32_t sub : subs) {
        std::memcpy(&sid[at], &sub, 4);
        at += 4;
    }
    return sid;
}

// One unsigned number: "0x" hex or decimal, nothing else, no overflow.
bool parseNumber(std::string_view text, uint64_t limit, uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 20) {
        return false;
    }
    value = 0;
    for (char c : text) {
        int digit = (c >= '0' && c <= '9')                 ? c - '0'
                    : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : -1;
        if (digit < 0 || value > (limit - static_cast<uint64_t>(digit)) / base) {
            return false;
        }
        value = value * base + static_cast<uint64_t>(digit);
    }
    return true;
}

}  // namespace

std::vector<BYTE> palUnixUserSid(uint32_t uid) {
    return makeSid(22, {1, uid});
}

std::vector<BYTE> palUnixGroupSid(uint32_t gid) {
    return makeSid(22, {2, gid});
}

bool palSidIsValid(const BYTE* sid, size_t available) {
    return sid != nullptr && available >= kSidHeader && sid[0] == SID_REVISION &&
           sid[1] <= SID_MAX_SUB_AUTHORITIES && available >= palSidLength(sid);
}

size_t palSidLength(const BYTE* sid) {
    return kSidHeader + 4 * size_t{sid[1]};
}

bool palParseSid(std::string_view text, std::vector<BYTE>& sid) {
    if (text.size() == 2) {
        for (const Alias& alias : kAliases) {
            if (text == alias.name) {
                return palParseSid(alias.sid, sid);
            }
        }
        return false;
    }
    if (text.substr(0, 4) != "S-1-") {
        return false;
    }
    text.remove_prefix(4);
    std::vector<uint64_t> parts;
    for (;;) {
        size_t dash = text.find('-');
        uint64_t value = 0;
        uint64_t limit = parts.empty() ? 0xFFFFFFFFFFFFull : 0xFFFFFFFFull;
        if (!parseNumber(text.substr(0, dash), limit, value)) {
            return false;
        }
        parts.push_back(value);
        if (parts.size() > 1 + SID_MAX_SUB_AUTHORITIES) {
            return false;
        }
        if (dash == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dash + 1);
    }
    sid = makeSid(parts[0], {});
    sid[1] = static_cast<BYTE>(parts.size() - 1);
    for (size_t i = 1; i < parts.size(); ++i) {
        uint32_t sub = static_cast<uint32_t>(parts[i]);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&sub);
        sid.insert(sid.end(), bytes, bytes + 4);
    }
    return true;
}

BOOL IsValidSid(PSID sid) {
    // Only the header can be trusted to exist before the count is read.
    return palSidIsValid(static_cast<const BYTE*>(sid), SECURITY_MAX_SID_SIZE) ? TRUE : FALSE;
}

DWORD GetLengthSid(PSID sid) {
    return static_cast<DWORD>(palSidLength(static_cast<const BYTE*>(sid)));
}

BOOL EqualSid(PSID sid1, PSID sid2) {
    if (!IsValidSid(sid1) || !IsValidSid(sid2)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    size_t length = palSidLength(static_cast<const BYTE*>(sid1));
    return length == palSidLength(static_cast<const BYTE*>(sid2)) &&
                   std::memcmp(sid1, sid2, length) == 0
               ? TRUE
               : FALSE;
}

BOOL ConvertSidToStringSidA(PSID sid, LPSTR* stringSid) {
    if (stringSid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (sid == nullptr || !IsValidSid(sid)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    uint64_t authority = 0;
    for (int i = 0; i < 6; ++i) {
        authority = (authority << 8) | bytes[2 + i];
    }
    char part[32];
    // Windows writes authorities of 2^32 and above as twelve hex digits.
    if (authority >> 32) {
        std::snprintf(part, sizeof part, "S-1-0x%012llX", static_cast<unsigned long long>(authority));
    } else {
        std::snprintf(part, sizeof part, "S-1-%llu", static_cast<unsigned long long>(authority));
    }
    std::string text = part;
    for (BYTE i = 0; i < bytes[1]; ++i) {
        uint32_t sub = 0;
        std::memcpy(&sub, bytes + kSidHeader + 4 * i, 4);
        text += '-';
        text += std::to_string(sub);
    }
    auto* out = static_cast<char*>(LocalAlloc(LMEM_FIXED, text.size() + 1));
    if (out == nullptr) {
        return FALSE;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    *stringSid = out;
    return TRUE;
}

BOOL ConvertStringSidToSidA(LPCSTR stringSid, PSID* sid) {
    if (stringSid == nullptr || sid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<BYTE> parsed;
    try {
        if (!palParseSid(stringSid, parsed)) {
            SetLastError(ERROR_INVALID_SID);
            return FALSE;
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    void* out = LocalAlloc(LMEM_FIXED, parsed.size());
    if (out == nullptr) {
        return FALSE;
    }
    std::memcpy(out, parsed.data(), parsed.size());
    *sid = out;
    return TRUE;
}
