// SPDX-License-Identifier: MIT
// Arbitrary text as SDDL, as the Broker's pipe security and any caller of the
// platform layer may hand it: every text gives a well-formed self-relative
// descriptor of the length reported, or fails with ERROR_INVALID_PARAMETER;
// the access check reads whatever was accepted without a fault. The same text
// as a SID either fails with ERROR_INVALID_SID or gives a valid SID whose
// text form reads back to the same SID.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "pal/security_internal.h"
#include "pal/win32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The API takes C text: it ends at the first NUL.
    const std::string text(reinterpret_cast<const char*>(data), size);

    PSECURITY_DESCRIPTOR sd = nullptr;
    ULONG length = 0;
    SetLastError(0);
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &sd,
                                                             &length)) {
        FUZZ_CHECK(sd != nullptr);
        FUZZ_CHECK(IsValidSecurityDescriptor(sd));
        FUZZ_CHECK(palSecurityDescriptorLength(sd) == length);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        FUZZ_CHECK(GetSecurityDescriptorControl(sd, &control, &revision));
        FUZZ_CHECK((control & SE_SELF_RELATIVE) != 0 && revision == SECURITY_DESCRIPTOR_REVISION);
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        FUZZ_CHECK(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
        FUZZ_CHECK(static_cast<bool>(present) == ((control & SE_DACL_PRESENT) != 0));
        PSID owner = nullptr;
        FUZZ_CHECK(GetSecurityDescriptorOwner(sd, &owner, &defaulted));
        if (owner != nullptr) {
            FUZZ_CHECK(IsValidSid(owner));
        }
        const auto* bytes = static_cast<const BYTE*>(sd);
        const std::vector<BYTE> copy(bytes, bytes + length);
        palSecurityAdmits(copy, 1000, 1000, 1000);
        palSecurityAdmits(copy, 0, 0, 1000);
        FUZZ_CHECK(LocalFree(sd) == nullptr);
    } else {
        FUZZ_CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
    }

    PSID sid = nullptr;
    SetLastError(0);
    if (ConvertStringSidToSidA(text.c_str(), &sid)) {
        FUZZ_CHECK(IsValidSid(sid));
        LPSTR back = nullptr;
        FUZZ_CHECK(ConvertSidToStringSidA(sid, &back));
        PSID again = nullptr;
        FUZZ_CHECK(ConvertStringSidToSidA(back, &again));
        FUZZ_CHECK(EqualSid(sid, again));
        FUZZ_CHECK(GetLengthSid(sid) == GetLengthSid(again));
        LocalFree(again);
        LocalFree(back);
        LocalFree(sid);
    } else {
        FUZZ_CHECK(GetLastError() == ERROR_INVALID_SID);
    }
    return 0;
}
