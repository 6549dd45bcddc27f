// SPDX-License-Identifier: MIT
// Reading self-relative security descriptors, and the access check a pipe
// applies to a connecting peer.
#include <algorithm>
#include <cstring>

#include "pal/security_internal.h"

namespace {

// No descriptor or list spans more than this: ACL sizes are 16-bit.
constexpr size_t kMaxPart = 0xFFFF;

bool readHeader(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_RELATIVE& header) {
    if (descriptor == nullptr) {
        return false;
    }
    std::memcpy(&header, descriptor, sizeof header);
    return header.Revision == SECURITY_DESCRIPTOR_REVISION &&
           (header.Control & SE_SELF_RELATIVE) != 0;
}

const BYTE* at(PSECURITY_DESCRIPTOR descriptor, DWORD offset) {
    return offset == 0 ? nullptr : static_cast<const BYTE*>(descriptor) + offset;
}

// The bytes an ACL spans when it is well formed; 0 otherwise.
size_t aclLength(const BYTE* acl) {
    ACL head;
    std::memcpy(&head, acl, sizeof head);
    if (head.AclRevision < ACL_REVISION || head.AclRevision > ACL_REVISION_DS ||
        head.AclSize < sizeof(ACL)) {
        return 0;
    }
    size_t offset = sizeof(ACL);
    for (WORD i = 0; i < head.AceCount; ++i) {
        ACE_HEADER ace;
        if (offset + sizeof ace > head.AclSize) {
            return 0;
        }
        std::memcpy(&ace, acl + offset, sizeof ace);
        if (ace.AceSize < sizeof ace || offset + ace.AceSize > head.AclSize) {
            return 0;
        }
        // The entry types read here carry a mask and then a SID that must fit.
        const bool withSid = ace.AceType == ACCESS_ALLOWED_ACE_TYPE ||
                             ace.AceType == ACCESS_DENIED_ACE_TYPE ||
                             ace.AceType == SYSTEM_AUDIT_ACE_TYPE ||
                             ace.AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE;
        if (withSid && (ace.AceSize < 8 || !palSidIsValid(acl + offset + 8, ace.AceSize - 8u))) {
            return 0;
        }
        offset += ace.AceSize;
    }
    return head.AclSize;
}

// The entry at `index`, walked over without checks: call on a checked ACL only.
const BYTE* aceAt(const BYTE* acl, DWORD index) {
    const BYTE* ace = acl + sizeof(ACL);
    for (DWORD i = 0; i < index; ++i) {
        WORD size;
        std::memcpy(&size, ace + 2, 2);
        ace += size;
    }
    return ace;
}

DWORD mapGeneric(DWORD mask) {
    DWORD mapped = mask & ~DWORD{GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL};
    if (mask & GENERIC_READ) mapped |= FILE_GENERIC_READ;
    if (mask & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
    if (mask & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
    return mapped;
}

}  // namespace

size_t palSecurityDescriptorLength(PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_DESCRIPTOR_RELATIVE header;
    if (!readHeader(descriptor, header)) {
        return 0;
    }
    size_t end = sizeof header;
    for (DWORD offset : {header.Owner, header.Group}) {
        const BYTE* sid = at(descriptor, offset);
        if (sid != nullptr) {
            if (offset < sizeof header || !palSidIsValid(sid, SECURITY_MAX_SID_SIZE)) {
                return 0;
            }
            end = std::max(end, offset + palSidLength(sid));
        }
    }
    const bool present[] = {(header.Control & SE_SACL_PRESENT) != 0,
                            (header.Control & SE_DACL_PRESENT) != 0};
    const DWORD offsets[] = {header.Sacl, header.Dacl};
    for (int i = 0; i < 2; ++i) {
        const BYTE* acl = at(descriptor, offsets[i]);
        if (present[i] && acl != nullptr) {
            size_t length = offsets[i] < sizeof header ? 0 : aclLength(acl);
            if (length == 0) {
                return 0;
            }
            end = std::max(end, offsets[i] + length);
        }
    }
    return end <= 4 * kMaxPart ? end : 0;
}

bool palSecurityAdmits(const std::vector<BYTE>& descriptor, uint32_t uid, uint32_t gid,
                       uint32_t ownerUid) {
    SECURITY_DESCRIPTOR_RELATIVE header;
    std::memcpy(&header, descriptor.data(), sizeof header);
    if ((header.Control & SE_DACL_PRESENT) == 0) {
        return uid == ownerUid;
    }
    if (header.Dacl == 0) {
        return true;
    }
    const std::vector<BYTE> identities[] = {palUnixUserSid(uid), palUnixGroupSid(gid),
                                            {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0},
                                            {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0}};
    const BYTE* acl = descriptor.data() + header.Dacl;
    WORD count;
    std::memcpy(&count, acl + 4, 2);
    // Entries count in order: a deny of any wanted right still outstanding
    // refuses, and access is granted once allows cover all of it.
    DWORD wanted = mapGeneric(GENERIC_READ | GENERIC_WRITE);
    for (WORD i = 0; i < count && wanted != 0; ++i) {
        const BYTE* ace = aceAt(acl, i);
        const BYTE type = ace[0];
        if ((ace[1] & INHERIT_ONLY_ACE) != 0 ||
            (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_DENIED_ACE_TYPE)) {
            continue;
        }
        const BYTE* sid = ace + 8;
        const size_t sidLength = palSidLength(sid);
        bool matches = std::any_of(std::begin(identities), std::end(identities),
                                   [&](const std::vector<BYTE>& id) {
                                       return id.size() == sidLength &&
                                              std::memcmp(id.data(), sid, sidLength) == 0;
                                   });
        if (!matches) {
            continue;
        }
        DWORD mask;
        std::memcpy(&mask, ace + 4, 4);
        mask = mapGeneric(mask);
        if (type == ACCESS_DENIED_ACE_TYPE) {
            if ((mask & wanted) != 0) {
                return false;
            }
        } else {
            wanted &= ~mask;
        }
    }
    return wanted == 0;
}

BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    if (palSecurityDescriptorLength(descriptor) == 0) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    return TRUE;
}

BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor,
                                  PSECURITY_DESCRIPTOR_CONTROL control, LPDWORD revision) {
    SECURITY_DESCRIPTOR_RELATIVE header;
    if (control == nullptr || revision == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!readHeader(descriptor, header)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    *control = header.Control;
    *revision = header.Revision;
    return TRUE;
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner,
                                LPBOOL ownerDefaulted) {
    SECURITY_DESCRIPTOR_RELATIVE header;
    if (owner == nullptr || ownerDefaulted == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!readHeader(descriptor, header)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    *owner = const_cast<BYTE*>(at(descriptor, header.Owner));
    *ownerDefaulted = (header.Control & SE_OWNER_DEFAULTED) ? TRUE : FALSE;
    return TRUE;
}

namespace {

BOOL getAcl(PSECURITY_DESCRIPTOR descriptor, bool dacl, LPBOOL present, PACL* acl,
            LPBOOL defaulted) {
    SECURITY_DESCRIPTOR_RELATIVE header;
    if (present == nullptr || acl == nullptr || defaulted == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!readHeader(descriptor, header)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    const WORD presentBit = dacl ? SE_DACL_PRESENT : SE_SACL_PRESENT;
    const WORD defaultedBit = dacl ? SE_DACL_DEFAULTED : SE_SACL_DEFAULTED;
    *present = (header.Control & presentBit) ? TRUE : FALSE;
    // Windows leaves the other outputs alone when no list is present.
    if (*present) {
        *acl = reinterpret_cast<PACL>(const_cast<BYTE*>(at(descriptor, dacl ? header.Dacl : header.Sacl)));
        *defaulted = (header.Control & defaultedBit) ? TRUE : FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL daclPresent, PACL* dacl,
                               LPBOOL daclDefaulted) {
    return getAcl(descriptor, true, daclPresent, dacl, daclDefaulted);
}

BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL saclPresent, PACL* sacl,
                               LPBOOL saclDefaulted) {
    return getAcl(descriptor, false, saclPresent, sacl, saclDefaulted);
}

BOOL GetAce(PACL acl, DWORD index, LPVOID* ace) {
    if (acl == nullptr || ace == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= acl->AceCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *ace = const_cast<BYTE*>(aceAt(reinterpret_cast<const BYTE*>(acl), index));
    return TRUE;
}
