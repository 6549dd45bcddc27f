// SPDX-License-Identifier: MIT
// Local memory, the version record, pseudo handles and access tokens.
#include <unistd.h>

#include <cstring>
#include <new>
#include <vector>

#include "pal/kernel_object.h"
#include "pal/security_internal.h"

namespace {

// Windows' values, which no handle table entry (a multiple of 4) can take.
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(intptr_t{-1});
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(intptr_t{-2});

// The identity is fixed when the token is opened, as a Windows token's is.
class Token final : public KernelObject {
  public:
    Token(DWORD access, uint32_t uid, uint32_t gid) : access_(access), uid_(uid), gid_(gid) {}
    DWORD access() const { return access_; }
    uint32_t uid() const { return uid_; }
    uint32_t gid() const { return gid_; }

  private:
    const DWORD access_;
    const uint32_t uid_;
    const uint32_t gid_;
};

}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    if ((flags & ~UINT{LMEM_ZEROINIT}) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return HeapAlloc(GetProcessHeap(), (flags & LMEM_ZEROINIT) ? HEAP_ZERO_MEMORY : 0, bytes);
}

HLOCAL LocalFree(HLOCAL memory) {
    if (memory == nullptr || HeapFree(GetProcessHeap(), 0, memory)) {
        return nullptr;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return memory;
}

BOOL GetVersionExA(LPOSVERSIONINFOA versionInfo) {
    if (versionInfo == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = versionInfo->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (size == sizeof(OSVERSIONINFOEXA)) {
        auto* extended = reinterpret_cast<LPOSVERSIONINFOEXA>(versionInfo);
        extended->wServicePackMajor = 0;
        extended->wServicePackMinor = 0;
        extended->wSuiteMask = 0x0100;  // VER_SUITE_SINGLEUSERTS, as a desktop reports
        extended->wProductType = VER_NT_WORKSTATION;
        extended->wReserved = 0;
    }
    versionInfo->dwMajorVersion = 10;
    versionInfo->dwMinorVersion = 0;
    versionInfo->dwBuildNumber = 19045;
    versionInfo->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(versionInfo->szCSDVersion, 0, sizeof versionInfo->szCSDVersion);
    return TRUE;
}

HANDLE GetCurrentProcess() {
    return kCurrentProcess;
}

HANDLE GetCurrentThread() {
    return kCurrentThread;
}

BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token) {
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (process != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The caller is the token's owner, so it gets whatever a token grants.
    if (desiredAccess & (MAXIMUM_ALLOWED | GENERIC_ALL)) {
        desiredAccess |= TOKEN_ALL_ACCESS;
    }
    if (desiredAccess & GENERIC_READ) desiredAccess |= TOKEN_READ;
    if (desiredAccess & GENERIC_WRITE) desiredAccess |= TOKEN_WRITE;
    if (desiredAccess & GENERIC_EXECUTE) desiredAccess |= TOKEN_EXECUTE;
    desiredAccess &= ~DWORD{MAXIMUM_ALLOWED | GENERIC_ALL | GENERIC_READ | GENERIC_WRITE |
                            GENERIC_EXECUTE};
    if ((desiredAccess & ~DWORD{TOKEN_ALL_ACCESS}) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    try {
        HANDLE handle = palInsertHandle(
            std::make_shared<Token>(desiredAccess, ::geteuid(), ::getegid()));
        if (handle == nullptr) {
            return FALSE;
        }
        *token = handle;
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

BOOL OpenThreadToken(HANDLE thread, DWORD /*desiredAccess*/, BOOL /*openAsSelf*/,
                     PHANDLE token) {
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SetLastError(thread == kCurrentThread ? ERROR_NO_TOKEN : ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                         LPVOID information, DWORD informationLength, PDWORD returnLength) {
    std::shared_ptr<Token> object = palLookupHandleAs<Token>(token);
    if (!object) {
        return FALSE;
    }
    if (returnLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((object->access() & TOKEN_QUERY) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Each class supported here is one pointer to a SID placed right after it,
    // with an attributes word for TokenUser.
    size_t head = 0;
    std::vector<BYTE> sid;
    switch (informationClass) {
        case TokenUser:
            head = sizeof(TOKEN_USER);
            sid = palUnixUserSid(object->uid());
            break;
        case TokenOwner:
            head = sizeof(TOKEN_OWNER);
            sid = palUnixUserSid(object->uid());
            break;
        case TokenPrimaryGroup:
            head = sizeof(TOKEN_PRIMARY_GROUP);
            sid = palUnixGroupSid(object->gid());
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(head + sid.size());
    *returnLength = needed;
    if (information == nullptr || informationLength < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* bytes = static_cast<BYTE*>(information);
    std::memset(bytes, 0, head);
    std::memcpy(bytes + head, sid.data(), sid.size());
    // All three records start with the SID pointer.
    PSID where = bytes + head;
    std::memcpy(bytes, &where, sizeof where);
    return TRUE;
}
