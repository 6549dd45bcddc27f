#include "broker/broker_main.h"

#include <cstdlib>

#include "channel/broker_context.h"
#include "broker/command_line.h"
#include "broker/send_mail_connection_handler.h"
#include "foundation/ks_exception.h"

int runBroker(const char* commandLine, PipeSecurity security) {
    CBrokerContext context;
    if (context.interruptEvent == nullptr) {
        // Without it no pending transfer could be interrupted at shutdown.
        return 0;
    }
    BrokerCommandLine values;
    if (!parseBrokerCommandLine(KsString(commandLine), values)) {
        return 0;
    }
    KsString pipeName("\\\\.\\pipe\\");
    pipeName.append(values.pipeName);

    CSendMailConnectionHandler handler(&context, pipeName, values.hostProcessIdText, security);
    try {
        handler.listen();
    } catch (...) {
        // No pipe to serve: end at once. The channels still running are
        // interrupted below like at an ordinary shutdown.
    }
    // Ends idle connections too, including those of clients outside the host.
    context.requestShutdown();
    handler.closeAllChannels();
    return 0;
}
