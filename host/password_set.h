// SPDX-License-Identifier: MIT
// `mailbroker-client password set PROFILE`: asks for the profile's password
// (without echo on a terminal; a line of standard input otherwise) and stores
// it in the Secret Service under the attributes msmtp uses (host of the
// profile's transport, service smtp, user), where `secret_service = yes`
// finds it. POSIX only: it reads profiles.ini and runs mailbroker-secret.
#pragma once

#include <ostream>
#include <string>
#include <vector>

class ClientSession;

int passwordCommand(ClientSession& session, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err);
