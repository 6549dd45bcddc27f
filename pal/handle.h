// SPDX-License-Identifier: MIT
// Handles and waits.
//
// A handle names a reference-counted kernel object. Each waitable type declares
// its own signal semantics (see KernelObject in pal/kernel_object.h):
//   thread     signalled once it has ended; stays signalled; a wait consumes nothing
//   semaphore  signalled while its count is above zero; a wait takes one unit
//   event      signalled while set; a wait resets an auto-reset event, nothing else
//   process    signalled once the process has ended; stays signalled; a wait consumes nothing
#pragma once

#include "pal/types.h"

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

#define SYNCHRONIZE 0x00100000u

// Handle values are nonzero multiples of 4 and, as on Windows, reused once closed.
// A closed or unknown handle fails with ERROR_INVALID_HANDLE; closing a handle
// while another thread waits on it leaves that wait running to its end.
BOOL CloseHandle(HANDLE handle);

// A 0 ms wait never blocks; INFINITE never times out.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Wait-any (waitAll FALSE) is supported; wait-all over more than one object fails
// with ERROR_NOT_SUPPORTED. When several objects are signalled, the lowest index
// wins and only that object is acquired, as on Windows. A count of 0 or above
// MAXIMUM_WAIT_OBJECTS, or a null array, fails with ERROR_INVALID_PARAMETER.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
