// SPDX-License-Identifier: MIT
// The mailbroker-client command line: global options, then one subcommand.
// Each subcommand is one row of a table: raw, and the mail commands of
// host/mail_commands.h.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Exit codes, so scripts can tell the failures apart.
enum ClientExit : int {
    kExitOk = 0,
    kExitUsage = 1,
    kExitStartFailed = 2,    // the Broker could not be started
    kExitUnreachable = 3,    // no such pipe, or no answer in time
    kExitAccessDenied = 4,   // the pipe refuses this user
    kExitBadReply = 5,       // the connection broke or the reply is malformed
    kExitCommandFailed = 6,  // the Broker answered that the command failed
};

// Runs the command on `args` (without the program name). `selfPath` is the
// client's own path, beside which the default Broker is looked for.
int runClient(const std::vector<std::string>& args, const std::string& selfPath, std::ostream& out,
              std::ostream& err);
