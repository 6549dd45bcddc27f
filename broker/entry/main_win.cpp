// SPDX-License-Identifier: MIT
// The Broker's process entry: a GUI-subsystem program that never opens a
// window. The arguments are ignored in favour of GetCommandLineA.
#include "broker/broker_main.h"
#include "broker/security_utils.h"
#include "pal/win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        return runBroker(GetCommandLineA(), KsSecurityUtilsWin::currentUserPipeSecurity());
    } catch (...) {
        return 0;
    }
}
