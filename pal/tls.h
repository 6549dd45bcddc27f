// Thread-local storage slots. Every thread starts with every slot empty (null).
#pragma once

#include "pal/types.h"

#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu

DWORD TlsAlloc();
BOOL TlsFree(DWORD index);
LPVOID TlsGetValue(DWORD index);
BOOL TlsSetValue(DWORD index, LPVOID value);
