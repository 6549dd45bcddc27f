// Handles and waits.
//
// A handle names a reference-counted kernel object. Each waitable type declares
// its own signal semantics (see KernelObject in pal/kernel_object.h):
//   thread     signalled once it has ended; stays signalled; a wait consumes nothing
//   semaphore  signalled while its count is above zero; a wait takes one unit
#pragma once

#include "pal/types.h"

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

#define SYNCHRONIZE 0x00100000u

BOOL CloseHandle(HANDLE handle);

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Wait-any (waitAll FALSE) is supported; wait-all fails with ERROR_NOT_SUPPORTED.
// When several objects are signalled, the lowest index wins, as on Windows.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                             DWORD milliseconds);
