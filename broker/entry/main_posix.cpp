// SPDX-License-Identifier: MIT
// The Broker's process entry: the command line comes from GetCommandLineA, as
// on Windows, so argv is not used.
#include "base/launcher.h"
#include "broker/broker_main.h"
#include "broker/security_utils.h"
#include "pal/win32.h"

int main() {
    // Each connection holds descriptors; the soft limit (often 1,024) would
    // run out long before the hard one. Children get the old limit back.
    mb::raiseFileLimit();
    try {
        return runBroker(GetCommandLineA(), KsSecurityUtilsWin::currentUserPipeSecurity());
    } catch (...) {
        return 0;  // nothing is reported anywhere
    }
}
