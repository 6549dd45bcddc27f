// SPDX-License-Identifier: MIT
// Owning holders for Win32 resources, on base/scoped_generic.h. Only Win32
// names are used, so this header compiles against the real <windows.h> as well
// as against the platform layer.
//
// Win32 has two conventions for "no handle", and a holder must use the one of
// the call that made its handle, because each treats only its own value as
// empty and closes every other:
//
//   ScopedHandle      NULL means none. CreateEvent, CreateSemaphore,
//                     CreateThread, OpenProcess, OpenProcessToken and
//                     OpenThreadToken (their out parameter) fail this way.
//   ScopedFileHandle  INVALID_HANDLE_VALUE means none. CreateFile and
//                     CreateNamedPipe fail this way.
//
// Either one is best given a call's result only after checking it against
// that call's failure value. Never wrap a pseudo handle (GetCurrentProcess(),
// GetCurrentThread()): it is not to be closed, and GetCurrentProcess() even
// equals INVALID_HANDLE_VALUE.
//
//   ScopedLocalMemory a block from LocalAlloc, or from a call documented to
//                     return one for LocalFree (ConvertSidToStringSid,
//                     ConvertStringSecurityDescriptorToSecurityDescriptor);
//                     NULL means none.
#pragma once

#include "base/scoped_generic.h"
#include "pal/win32.h"

namespace mb {

struct HandleTraits {
    static HANDLE invalidValue() noexcept { return nullptr; }
    static void free(HANDLE handle) noexcept { CloseHandle(handle); }
};

struct FileHandleTraits {
    static HANDLE invalidValue() noexcept { return INVALID_HANDLE_VALUE; }
    static void free(HANDLE handle) noexcept { CloseHandle(handle); }
};

struct LocalMemoryTraits {
    static HLOCAL invalidValue() noexcept { return nullptr; }
    static void free(HLOCAL memory) noexcept { LocalFree(memory); }
};

using ScopedHandle = ScopedGeneric<HANDLE, HandleTraits>;
using ScopedFileHandle = ScopedGeneric<HANDLE, FileHandleTraits>;
using ScopedLocalMemory = ScopedGeneric<HLOCAL, LocalMemoryTraits>;

}  // namespace mb
