// The Broker's process entry: the command line comes from GetCommandLineA, as
// on Windows, so argv is not used.
#include "broker/broker_main.h"
#include "broker/security_utils.h"
#include "pal/win32.h"

int main() {
    try {
        return runBroker(GetCommandLineA(), KsSecurityUtilsWin::currentUserPipeSecurity());
    } catch (...) {
        return 0;  // nothing is reported anywhere
    }
}
