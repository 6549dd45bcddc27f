// SPDX-License-Identifier: MIT
// Critical sections and semaphores.
#pragma once

#include "pal/types.h"

// Windows' CRITICAL_SECTION is a recursive lock owned by a thread. Here it
// holds a recursive POSIX mutex in opaque storage.
typedef struct _RTL_CRITICAL_SECTION {
    alignas(8) unsigned char opaque[64];
} CRITICAL_SECTION, *PCRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spinCount);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// Semaphores are unnamed: a NULL or empty name is accepted, any other name fails
// with ERROR_NOT_SUPPORTED. Bad counts (initial < 0, maximum <= 0, initial above
// maximum) fail with ERROR_INVALID_PARAMETER. The security attributes are ignored.
HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount,
                        LPCSTR name);
HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount,
                        LPCWSTR name);
// Adds releaseCount (> 0) units. A release that would pass the maximum fails with
// ERROR_TOO_MANY_POSTS and leaves the count as it was. previousCount may be NULL.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount);
