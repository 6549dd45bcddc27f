// SPDX-License-Identifier: MIT
// The mail subcommands of mailbroker-client (send, addrs, profile, flush):
// each builds its request, sends it, prints the reply's fields, and says what
// the reply means; send and flush also look into the default profile's store.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/client_session.h"

int sendCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                std::ostream& err);
int addrsCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err);
int profileCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err);
int flushCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err);
