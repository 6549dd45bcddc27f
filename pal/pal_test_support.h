// SPDX-License-Identifier: MIT
// What the platform layer's tests share: the check that a call fails with a
// given result and last-error code, and helper threads started and finished
// with their exit codes. Win32 names only, so that the same tests build
// against the real <windows.h>.
#pragma once

#include <gtest/gtest.h>

#include "pal/win32.h"

// Clears the last error, then checks that the call fails with the given result and code.
#define EXPECT_FAILS(call, result, code)        \
    do {                                        \
        SetLastError(0);                        \
        EXPECT_EQ((call), (result));            \
        EXPECT_EQ(GetLastError(), DWORD(code)); \
    } while (0)

namespace pal_test {

inline HANDLE start(LPTHREAD_START_ROUTINE routine, LPVOID parameter) {
    HANDLE thread = CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    return thread;
}

// 0xDEAD when the code cannot be read.
inline DWORD exitCodeOf(HANDLE thread) {
    DWORD code = 0xDEAD;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

// Waits for a thread to end, closes it and returns its exit code.
inline DWORD finish(HANDLE thread) {
    EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    DWORD code = exitCodeOf(thread);
    EXPECT_TRUE(CloseHandle(thread));
    return code;
}

inline DWORD WINAPI returnZero(LPVOID) {
    return 0;
}

}  // namespace pal_test
