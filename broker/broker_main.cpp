// SPDX-License-Identifier: MIT
#include "broker/broker_main.h"

#include <chrono>
#include <cstdlib>

#include "channel/broker_context.h"
#include "broker/command_line.h"
#include "broker/send_mail_connection_handler.h"
#include "broker/shutdown_deadline.h"
#include "foundation/ks_exception.h"

namespace {

// Long enough for a channel to finish the frame it is writing; short enough
// that the Broker is gone within a second of its host.
constexpr std::chrono::milliseconds kShutdownGrace{600};

}  // namespace

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
    // A channel stuck in a call that the interrupt cannot reach must not keep
    // the Broker alive: past the grace period the process just ends.
    ShutdownDeadline deadline(kShutdownGrace);
    handler.closeAllChannels();
    deadline.disarm();
    return 0;
}
