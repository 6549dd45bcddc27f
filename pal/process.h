// SPDX-License-Identifier: MIT
// Processes: the current process's id and command line, and handles that
// signal when another process ends.
#pragma once

#include "pal/types.h"

#define PROCESS_TERMINATE 0x0001u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u

// The process id, as the system reports it (nonzero, fixed for the process's life).
DWORD GetCurrentProcessId();

// A handle to a running process, signalled for good once the process has ended;
// a wait consumes nothing. Any access mask is accepted and the handle may be
// waited on whatever was asked for (Windows refuses a wait with ERROR_ACCESS_DENIED
// when SYNCHRONIZE is missing); inheritHandle is ignored, the handle is never
// inherited. Any process of the system may be opened, as far as the system lets
// the caller see it.
// Process id 0, or one that names no process, fails with ERROR_INVALID_PARAMETER.
// On kernels without process descriptors (before Linux 5.3) an existing process
// fails with ERROR_NOT_SUPPORTED.
HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);

// The arguments the process was started with, joined by single blanks and not
// quoted (Windows keeps the text as the creator passed it, quotes included). The
// bytes are taken as they are, without conversion. Read once; every call
// returns the same buffer, which lives as long as the process.
LPSTR GetCommandLineA();
