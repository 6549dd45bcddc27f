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

// With SHGFI_DISPLAYNAME: fills szDisplayName with the name a file manager
// shows for the path (its last component, decoded from the file system's
// bytes), cut to fit MAX_PATH units, and returns non-zero. A path that does
// not exist returns 0. Other flags are not provided: 0.
DWORD_PTR SHGetFileInfoW(LPCWSTR path, DWORD fileAttributes, SHFILEINFOW* info,
                         UINT cbFileInfo, UINT flags);
