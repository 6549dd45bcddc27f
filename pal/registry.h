// SPDX-License-Identifier: MIT
// The registry, read only: HKEY_CURRENT_USER comes from the registry export
// file $XDG_CONFIG_HOME/winpal/user.reg (~/.config/winpal/user.reg when the
// variable is unset or relative), in the text format of registry export files:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Example\Settings]
//   "name"=dword:00000001
//   "text"="a \"quoted\" value"
//   @="the key's default value"
//
// The file is read at each RegOpenKeyExW, so a change shows at the next open;
// an open key keeps the values it was opened with. Key and value names compare
// case-insensitively, as on Windows. The file is UTF-8 (with or without a byte
// order mark) or UTF-16LE after its mark, as Windows writes it; "REGEDIT4"
// files are read as UTF-8 too. Values: "text" (escapes \\ and \"), dword:,
// hex: and hex(N): lists (continued over lines ending in "\"), "name"=- removes
// one; "[-key]" removes a key and those below it. Lines starting with ';' are
// comments; a line that does not parse is skipped and the rest still counts. A
// file that is missing, unreadable, not a regular file, over 64 MiB or without
// the header line is an empty registry. HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT
// and the other predefined keys are empty.
#pragma once

#include "pal/types.h"

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))

#define KEY_QUERY_VALUE 0x0001u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_READ 0x20019u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

// Opens a key below a root or an open key for reading; a key exists when the
// file names it or a key below it. ERROR_FILE_NOT_FOUND for a key that does not
// exist (or no user.reg), ERROR_INVALID_HANDLE for a handle that is neither a
// predefined key nor an open one, ERROR_ACCESS_DENIED for any write access to
// an existing key, ERROR_INVALID_PARAMETER for a null result. On failure
// *result is NULL. Returns the error code itself; registry calls leave
// GetLastError() alone. The key handle is released by RegCloseKey.
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM samDesired,
                      PHKEY result);

// Reads a value of an open key, with Windows' two-call protocol: a null data
// buffer gives the size; a buffer too small gives ERROR_MORE_DATA and the size
// needed in *cbData. A null or empty name is the key's default value ("@").
// ERROR_FILE_NOT_FOUND for a missing value.
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                         LPBYTE data, LPDWORD cbData);

// ERROR_SUCCESS for an open key (which it releases) or a predefined one,
// ERROR_INVALID_HANDLE otherwise.
LSTATUS RegCloseKey(HKEY key);
