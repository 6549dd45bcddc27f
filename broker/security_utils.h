// SPDX-License-Identifier: MIT
// The security attributes that restrict the Broker's pipe to its own user.
#pragma once

#include "broker/pipe_security.h"
#include "pal/scoped_handle.h"
#include "pal/win32.h"

namespace KsSecurityUtilsWin {

// Releases memory the platform allocated (LocalAlloc) when it goes out of scope.
class CLocalFreeGuard {
  public:
    explicit CLocalFreeGuard(void* pointer) : memory_(pointer) {}
    CLocalFreeGuard(const CLocalFreeGuard&) = delete;
    CLocalFreeGuard& operator=(const CLocalFreeGuard&) = delete;
    virtual ~CLocalFreeGuard();

    void* get() const { return memory_.get(); }

  private:
    mb::ScopedLocalMemory memory_;
};

// Fills `attributes` (not inheritable) and returns the descriptor, which the
// caller frees with LocalFree. Throws KsException on every failure.
PSECURITY_DESCRIPTOR createCurrentUserSecurityAttributes(SECURITY_ATTRIBUTES& attributes);

// The impersonated user's token if the thread impersonates, else the
// process's, with TOKEN_QUERY access. The caller closes it.
HANDLE getCurrentToken();

// A LocalAlloc buffer holding the token information of `infoClass`.
void* queryTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass);

// The listener's security: createCurrentUserSecurityAttributes, freed with LocalFree.
PipeSecurity currentUserPipeSecurity();

}  // namespace KsSecurityUtilsWin
