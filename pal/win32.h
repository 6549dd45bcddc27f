// SPDX-License-Identifier: MIT
// The one header through which code reaches the Win32 API.
//
// On Windows it is <windows.h>. Elsewhere it is the platform adaptation layer:
// the subset of Win32 that mailbroker calls, with the same names, signatures,
// return values and GetLastError() codes.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <string.h>
#include <wchar.h>
#include <stdio.h>
// Wide literals: L"..." is UTF-16 on Windows.
#define WLIT(s) L##s
#else
#include "pal/types.h"
#include "pal/error.h"
#include "pal/codepage.h"
#include "pal/wide_crt.h"
#include "pal/handle.h"
#include "pal/sync.h"
#include "pal/thread.h"
#include "pal/tls.h"
#include "pal/heap.h"
#include "pal/event.h"
#include "pal/process.h"
#include "pal/module.h"
#include "pal/pipe.h"
#include "pal/security.h"
#include "pal/registry.h"
#include "pal/file.h"
#include "pal/shell.h"
#endif

static_assert(sizeof(WCHAR) == 2, "WCHAR is one UTF-16 unit");
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(ULONG) == 4,
              "Win32 integers are 32 bits on every platform");
