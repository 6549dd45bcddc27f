// SPDX-License-Identifier: MIT
// Events: manual-reset and auto-reset, waited on with WaitForSingleObject and
// WaitForMultipleObjects.
#pragma once

#include "pal/types.h"

// Events are unnamed: a NULL or empty name is accepted, any other name fails
// with ERROR_NOT_SUPPORTED (Windows would create or open a named event). The
// security attributes are ignored.
//
// A manual-reset event stays signalled for every waiter until ResetEvent. An
// auto-reset event lets exactly one wait through and resets itself; with no
// waiter it stays signalled until one comes.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
// Setting a set event, or resetting a reset one, changes nothing and succeeds.
// A handle that is not an event fails with ERROR_INVALID_HANDLE.
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
