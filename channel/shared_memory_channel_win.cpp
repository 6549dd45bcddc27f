// SPDX-License-Identifier: MIT
#include "channel/broker_context.h"
#include "channel/shared_memory_channel.h"

void CSharedMemoryChannel::pumpWhilePending(HANDLE transferEvent) {
    HANDLE waits[2] = {transferEvent, context()->interruptEvent};
    for (;;) {
        // Wakes for either handle as well as for input, so neither has to wait
        // for a window message to arrive.
        const DWORD which = MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_ALLINPUT);
        if (which != WAIT_OBJECT_0 + 2) {
            return;  // a handle is signalled (or the wait failed): the plain wait follows
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_QUIT) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (WaitForMultipleObjects(2, waits, FALSE, 0) != WAIT_TIMEOUT) {
                return;
            }
        }
    }
}
