// SPDX-License-Identifier: MIT
#include "broker/security_utils.h"

#include <cstring>

#ifdef _WIN32
#include <sddl.h>
#endif

#include "broker/security_text.h"
#include "foundation/ks_exception.h"

namespace KsSecurityUtilsWin {

namespace {

// The SID as "S-1-..." text.
KsString sidText(PSID sid) {
    LPSTR chars = nullptr;
    if (!ConvertSidToStringSidA(sid, &chars)) {
        throw KsException("unable to get string version of current token sid");
    }
    const mb::ScopedLocalMemory ownedChars(chars);
    return KsString(chars);
}

}  // namespace

CLocalFreeGuard::~CLocalFreeGuard() = default;

HANDLE getCurrentToken() {
    HANDLE token = nullptr;
    // Checked against the process's own context, so an impersonation level
    // that forbids opening the token does not get in the way.
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        return token;
    }
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return token;
    }
    throw KsException("unable to get current user token");
}

void* queryTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass) {
    DWORD needed = 0;
    if (GetTokenInformation(token, infoClass, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        throw KsException("unable to get size of token info");
    }
    mb::ScopedLocalMemory buffer(LocalAlloc(LMEM_FIXED, needed));
    if (!buffer) {
        throw KsException("unable to get token info");
    }
    if (!GetTokenInformation(token, infoClass, buffer.get(), needed, &needed)) {
        throw KsException("unable to get token info");
    }
    return buffer.release();
}

PSECURITY_DESCRIPTOR createCurrentUserSecurityAttributes(SECURITY_ATTRIBUTES& attributes) {
    attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes.bInheritHandle = FALSE;

    const mb::ScopedHandle token(getCurrentToken());
    CLocalFreeGuard userInfo(queryTokenInformation(token.get(), TokenUser));
    const KsString userSid = sidText(static_cast<TOKEN_USER*>(userInfo.get())->User.Sid);

    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    GetVersionExA(&version);

    KsString sddl = buildCurrentUserSddl(userSid, version.dwMajorVersion);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.ansiView(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        KsString message("unable to create security descriptor from string ");
        message.append(sddl);
        throw KsException(message);
    }
    attributes.lpSecurityDescriptor = descriptor;
    return descriptor;
}

namespace {

void* createForPipe(SECURITY_ATTRIBUTES& attributes) {
    return createCurrentUserSecurityAttributes(attributes);
}

void releaseForPipe(void* descriptor) {
    LocalFree(descriptor);
}

}  // namespace

PipeSecurity currentUserPipeSecurity() {
    return PipeSecurity{&createForPipe, &releaseForPipe};
}

}  // namespace KsSecurityUtilsWin
