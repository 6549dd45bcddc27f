// SPDX-License-Identifier: MIT
// Lets a test leave out an assertion on which Wine departs from what Windows
// documents; each use says what Windows does and why Wine differs.
#pragma once

#include "pal/win32.h"

inline bool runningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
