// SPDX-License-Identifier: MIT
// The process heap.
#pragma once

#include "pal/types.h"

#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_GENERATE_EXCEPTIONS 0x00000004
#define HEAP_ZERO_MEMORY 0x00000008

// A fixed pseudo handle, the only heap there is; other heap handles fail with
// ERROR_INVALID_HANDLE (Windows would fault on most of them).
HANDLE GetProcessHeap();
// Blocks are 16-byte aligned; 0 bytes gives a unique block. Failure returns NULL,
// also with HEAP_GENERATE_EXCEPTIONS (no structured exceptions here).
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
// A NULL block is accepted and ignored.
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);
// The size that was asked for, or (SIZE_T)-1 on failure.
SIZE_T HeapSize(HANDLE heap, DWORD flags, LPCVOID memory);
