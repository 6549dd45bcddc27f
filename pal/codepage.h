// SPDX-License-Identifier: MIT
// Code-page conversion between narrow text and UTF-16, as kernel32 does it.
// CP_ACP is Windows-1252 on every machine, whatever the POSIX locale says; 1252
// and CP_UTF8 are the other code pages provided, and any other fails with
// ERROR_INVALID_PARAMETER. Unlike Windows there is no best-fit mapping: a
// character without an exact Windows-1252 form always becomes the default
// character. MB_COMPOSITE and MB_USEGLYPHCHARS fail with ERROR_INVALID_FLAGS.
#pragma once

#include "pal/types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK 0x00000200
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByteStr, int cbMultiByte,
                        LPWSTR wideCharStr, int cchWideChar);

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideCharStr, int cchWideChar,
                        LPSTR multiByteStr, int cbMultiByte, LPCSTR defaultChar,
                        LPBOOL usedDefaultChar);
