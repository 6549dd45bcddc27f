// SPDX-License-Identifier: MIT
// SDDL text to a self-relative security descriptor.
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "pal/security_internal.h"

namespace {

struct Code {
    const char* name;
    DWORD value;
};

constexpr Code kRights[] = {
    {"GA", GENERIC_ALL},        {"GR", GENERIC_READ},         {"GW", GENERIC_WRITE},
    {"GX", GENERIC_EXECUTE},    {"FA", FILE_ALL_ACCESS},      {"FR", FILE_GENERIC_READ},
    {"FW", FILE_GENERIC_WRITE}, {"FX", FILE_GENERIC_EXECUTE}, {"RC", READ_CONTROL},
    {"SD", DELETE},             {"WD", WRITE_DAC},            {"WO", WRITE_OWNER},
    {"KA", 0x000F003Fu},        {"KR", 0x00020019u},          {"KW", 0x00020006u},
    {"KX", 0x00020019u},        {"NW", SYSTEM_MANDATORY_LABEL_NO_WRITE_UP},
    {"NR", SYSTEM_MANDATORY_LABEL_NO_READ_UP},                {"NX", SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP},
    {"CC", 0x0001u},            {"DC", 0x0002u},              {"LC", 0x0004u},
    {"SW", 0x0008u},            {"RP", 0x0010u},              {"WP", 0x0020u},
    {"DT", 0x0040u},            {"LO", 0x0080u},              {"CR", 0x0100u},
};

constexpr Code kAceFlags[] = {
    {"OI", OBJECT_INHERIT_ACE},  {"CI", CONTAINER_INHERIT_ACE},
    {"NP", NO_PROPAGATE_INHERIT_ACE}, {"IO", INHERIT_ONLY_ACE},
    {"ID", INHERITED_ACE},       {"SA", SUCCESSFUL_ACCESS_ACE_FLAG},
    {"FA", FAILED_ACCESS_ACE_FLAG},
};

constexpr Code kAceTypes[] = {
    {"A", ACCESS_ALLOWED_ACE_TYPE},
    {"D", ACCESS_DENIED_ACE_TYPE},
    {"AU", SYSTEM_AUDIT_ACE_TYPE},
    {"ML", SYSTEM_MANDATORY_LABEL_ACE_TYPE},
};

// A run of two-letter codes from `table`, or-ed together.
bool parseCodes(std::string_view text, const Code* table, size_t count, DWORD& value) {
    value = 0;
    if (text.size() % 2 != 0) {
        return false;
    }
    for (size_t at = 0; at < text.size(); at += 2) {
        std::string_view code = text.substr(at, 2);
        size_t i = 0;
        while (i < count && code != table[i].name) {
            ++i;
        }
        if (i == count) {
            return false;
        }
        value |= table[i].value;
    }
    return true;
}

// Rights are either codes or one number: hex after "0x", octal after "0",
// otherwise decimal.
bool parseRights(std::string_view text, DWORD& mask) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return parseCodes(text, kRights, std::size(kRights), mask);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        text.remove_prefix(1);
    }
    uint64_t value = 0;
    for (char c : text) {
        int digit = (c >= '0' && c <= '9')                  ? c - '0'
                    : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : 99;
        if (digit >= base) {
            return false;
        }
        value = value * base + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFu) {
            return false;
        }
    }
    mask = static_cast<DWORD>(value);
    return true;
}

void put16(std::vector<BYTE>& out, size_t at, uint16_t value) {
    std::memcpy(&out[at], &value, 2);
}

// One "(type;flags;rights;object;inherited object;sid)" entry, appended to `acl`.
bool parseAce(std::string_view text, std::vector<BYTE>& acl) {
    std::string_view fields[6];
    for (int i = 0; i < 6; ++i) {
        size_t end = i < 5 ? text.find(';') : text.size();
        if (end == std::string_view::npos) {
            return false;
        }
        fields[i] = text.substr(0, end);
        text.remove_prefix(i < 5 ? end + 1 : end);
    }
    DWORD type = 0;
    DWORD flags = 0;
    DWORD mask = 0;
    std::vector<BYTE> sid;
    size_t t = 0;
    while (t < std::size(kAceTypes) && fields[0] != kAceTypes[t].name) {
        ++t;
    }
    if (t == std::size(kAceTypes)) {
        return false;
    }
    type = kAceTypes[t].value;
    // Object GUIDs belong to object entry types, which are not parsed here.
    if (!parseCodes(fields[1], kAceFlags, std::size(kAceFlags), flags) ||
        !parseRights(fields[2], mask) || !fields[3].empty() || !fields[4].empty() ||
        !palParseSid(fields[5], sid)) {
        return false;
    }
    const size_t at = acl.size();
    const size_t size = 8 + sid.size();
    acl.resize(at + size);
    acl[at] = static_cast<BYTE>(type);
    acl[at + 1] = static_cast<BYTE>(flags);
    put16(acl, at + 2, static_cast<uint16_t>(size));
    std::memcpy(&acl[at + 4], &mask, 4);
    std::memcpy(&acl[at + 8], sid.data(), sid.size());
    return true;
}

struct Acl {
    WORD control = 0;                 // SE_*_PROTECTED and the inheritance bits
    std::optional<std::vector<BYTE>> bytes;  // empty optional: NULL ACL
};

// "flags(ace)(ace)..."; `dacl` picks the control bits of the flags.
bool parseAcl(std::string_view text, bool dacl, Acl& acl) {
    bool nullAcl = false;
    while (!text.empty() && text[0] != '(') {
        if (text.substr(0, 17) == "NO_ACCESS_CONTROL") {
            nullAcl = true;
            text.remove_prefix(17);
        } else if (text[0] == 'P') {
            acl.control |= dacl ? SE_DACL_PROTECTED : SE_SACL_PROTECTED;
            text.remove_prefix(1);
        } else if (text.substr(0, 2) == "AI") {
            acl.control |= dacl ? SE_DACL_AUTO_INHERITED : SE_SACL_AUTO_INHERITED;
            text.remove_prefix(2);
        } else if (text.substr(0, 2) == "AR") {
            acl.control |= dacl ? SE_DACL_AUTO_INHERIT_REQ : SE_SACL_AUTO_INHERIT_REQ;
            text.remove_prefix(2);
        } else {
            return false;
        }
    }
    std::vector<BYTE> bytes(sizeof(ACL));
    WORD count = 0;
    while (!text.empty()) {
        size_t close = text.find(')');
        if (text[0] != '(' || close == std::string_view::npos || ++count > 0x7FF ||
            !parseAce(text.substr(1, close - 1), bytes)) {
            return false;
        }
        text.remove_prefix(close + 1);
    }
    if (nullAcl) {
        return count == 0;
    }
    if (bytes.size() > 0xFFFF) {
        return false;
    }
    bytes[0] = ACL_REVISION;
    put16(bytes, 2, static_cast<uint16_t>(bytes.size()));
    put16(bytes, 4, count);
    acl.bytes = std::move(bytes);
    return true;
}

struct Parsed {
    std::optional<std::vector<BYTE>> owner, group;
    std::optional<Acl> dacl, sacl;
};

// The text splits at each "O:", "G:", "D:" or "S:" that starts a part. Inside
// an entry (between parentheses) those letters are data.
bool parse(std::string_view text, Parsed& parsed) {
    while (!text.empty()) {
        if (text.size() < 2 || text[1] != ':') {
            return false;
        }
        const char kind = text[0];
        text.remove_prefix(2);
        size_t end = 0;
        int depth = 0;
        while (end < text.size()) {
            char c = text[end];
            depth += c == '(' ? 1 : c == ')' ? -1 : 0;
            if (depth == 0 && end + 1 < text.size() && text[end + 1] == ':' &&
                (c == 'O' || c == 'G' || c == 'D' || c == 'S')) {
                break;
            }
            if (depth < 0 || depth > 1) {
                return false;
            }
            ++end;
        }
        std::string_view body = text.substr(0, end);
        text.remove_prefix(end);
        std::vector<BYTE> sid;
        Acl acl;
        switch (kind) {
            case 'O':
            case 'G': {
                auto& slot = kind == 'O' ? parsed.owner : parsed.group;
                if (slot || !palParseSid(body, sid)) {
                    return false;
                }
                slot = std::move(sid);
                break;
            }
            case 'D':
            case 'S': {
                auto& slot = kind == 'D' ? parsed.dacl : parsed.sacl;
                if (slot || !parseAcl(body, kind == 'D', acl)) {
                    return false;
                }
                slot = std::move(acl);
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

// Header, then SACL, DACL, owner and group, each at a 4-byte multiple.
std::vector<BYTE> layOut(const Parsed& parsed) {
    std::vector<BYTE> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE));
    SECURITY_DESCRIPTOR_RELATIVE header{};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    header.Control = SE_SELF_RELATIVE;
    auto append = [&out](const std::vector<BYTE>& part) {
        DWORD offset = static_cast<DWORD>(out.size());
        out.insert(out.end(), part.begin(), part.end());
        return offset;
    };
    if (parsed.sacl) {
        header.Control |= SE_SACL_PRESENT | parsed.sacl->control;
        header.Sacl = parsed.sacl->bytes ? append(*parsed.sacl->bytes) : 0;
    }
    if (parsed.dacl) {
        header.Control |= SE_DACL_PRESENT | parsed.dacl->control;
        header.Dacl = parsed.dacl->bytes ? append(*parsed.dacl->bytes) : 0;
    }
    header.Owner = parsed.owner ? append(*parsed.owner) : 0;
    header.Group = parsed.group ? append(*parsed.group) : 0;
    std::memcpy(out.data(), &header, sizeof header);
    return out;
}

}  // namespace

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size) {
    if (text == nullptr || descriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SDDL_REVISION_1) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    try {
        Parsed parsed;
        if (!parse(text, parsed)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::vector<BYTE> bytes = layOut(parsed);
        void* block = LocalAlloc(LMEM_FIXED, bytes.size());
        if (block == nullptr) {
            return FALSE;
        }
        std::memcpy(block, bytes.data(), bytes.size());
        *descriptor = block;
        if (size != nullptr) {
            *size = static_cast<ULONG>(bytes.size());
        }
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}
