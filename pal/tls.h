// SPDX-License-Identifier: MIT
// Thread-local storage slots. Every thread starts with every slot empty (null).
#pragma once

#include "pal/types.h"

#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu

// Indexes run from 0 to 1087 (Windows' 64 slots and 1024 expansion slots).
// TlsAlloc returns the lowest free one, or TLS_OUT_OF_INDEXES with
// ERROR_NO_MORE_ITEMS. A slot reads null in every thread once freed, and again
// when allocated anew.
DWORD TlsAlloc();
// FALSE with ERROR_INVALID_PARAMETER for an index that is not allocated.
BOOL TlsFree(DWORD index);
// Sets the last error to ERROR_SUCCESS on success, so a stored null is told from
// a failure (an out-of-range index: NULL with ERROR_INVALID_PARAMETER).
LPVOID TlsGetValue(DWORD index);
BOOL TlsSetValue(DWORD index, LPVOID value);
