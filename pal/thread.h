// SPDX-License-Identifier: MIT
// Threads, sleeping and yielding.
#pragma once

#include "pal/types.h"

#define STILL_ACTIVE 259
#define CREATE_SUSPENDED 0x00000004
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);

// The thread runs at once: creationFlags may hold only STACK_SIZE_PARAM_IS_A_RESERVATION
// (CREATE_SUSPENDED is not provided); other flags, or a null startAddress, fail with
// ERROR_INVALID_PARAMETER. A nonzero stackSize is the thread's whole stack, raised to
// at least 64 KiB; 0 takes the system default. Its handle is signalled when the
// thread ends, and closing it does not affect the thread.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);
// STILL_ACTIVE until the thread has ended, then its exit code.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
// Nonzero and unique among live threads; matches the id CreateThread reported.
DWORD GetCurrentThreadId();
// Unlike Windows, ends the thread by unwinding its stack (pthread_exit), so C++
// destructors run. A catch (...) on the way must rethrow, and no noexcept frame may
// lie between the call and the thread's start routine, or the process aborts.
void ExitThread(DWORD exitCode);

// Sleep(0) yields; Sleep(INFINITE) never returns.
void Sleep(DWORD milliseconds);
// Always TRUE here; Windows returns FALSE when no other thread was ready.
BOOL SwitchToThread();
