// SPDX-License-Identifier: MIT
// Shell file information: what a file manager shows for a file.
#pragma once

#include "pal/types.h"

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

typedef void* HICON;

typedef struct _SHFILEINFOW {
    HICON hIcon;
    int iIcon;
    DWORD dwAttributes;
    WCHAR szDisplayName[MAX_PATH];
    WCHAR szTypeName[80];
} SHFILEINFOW;

#define SHGFI_DISPLAYNAME 0x000000200u
#define SHGFI_TYPENAME 0x000000400u
#define SHGFI_ATTRIBUTES 0x000000800u
#define SHGFI_USEFILEATTRIBUTES 0x000000010u

// With SHGFI_DISPLAYNAME alone: fills szDisplayName with the name a file
// manager shows for the path and returns non-zero; the other members are left
// as they were. The name is the path's last component, decoded from the file
// system's bytes (ill-formed UTF-8 shows as U+FFFD), cut to fit MAX_PATH units,
// and with its extension: file managers on Linux show it, where Windows' shell
// hides known extensions when the user asks it to. Paths are POSIX paths: only
// '/' separates, a '\' belongs to the name. "." and ".." show the name of the
// folder they lead to, "/" shows as "/". A path that does not exist (or cannot
// be looked at) returns 0; so does any other flag, which is not provided.
DWORD_PTR SHGetFileInfoW(LPCWSTR path, DWORD fileAttributes, SHFILEINFOW* info,
                         UINT cbFileInfo, UINT flags);
