// SPDX-License-Identifier: MIT
// mailbroker-client queue and check: what waits in each profile's store, and
// whether the account's server can be reached and logged in to. Both read
// profiles.ini and the store (or run mailbroker-check beside the Broker), so
// the Windows build leaves them out with store_watch.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/client_session.h"

int queueCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err);
int checkCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err);
