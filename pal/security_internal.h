// SPDX-License-Identifier: MIT
// Internal to the POSIX layer: SID text, descriptor layout and the access check
// that named pipes apply to connecting peers.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "pal/win32.h"

// The SID of a Unix user (S-1-22-1-uid) or group (S-1-22-2-gid).
std::vector<BYTE> palUnixUserSid(uint32_t uid);
std::vector<BYTE> palUnixGroupSid(uint32_t gid);

// A SID of `available` bytes or more at `sid` that is well formed; its length.
bool palSidIsValid(const BYTE* sid, size_t available);
size_t palSidLength(const BYTE* sid);

// S-1-... text or a two-letter alias, the whole of `text`; false when malformed.
bool palParseSid(std::string_view text, std::vector<BYTE>& sid);

// The number of bytes a valid self-relative descriptor spans; 0 when it is not one.
size_t palSecurityDescriptorLength(PSECURITY_DESCRIPTOR descriptor);

// Whether a peer running as uid/gid may open an object guarded by the
// self-relative `descriptor` for reading and writing. Its identities are the
// user and group SIDs, Everyone and Authenticated Users. Without a DACL nobody
// but the creator (`ownerUid`) is admitted, as a creator's default DACL would;
// a NULL DACL admits all, an empty one none.
bool palSecurityAdmits(const std::vector<BYTE>& descriptor, uint32_t uid, uint32_t gid,
                       uint32_t ownerUid);
