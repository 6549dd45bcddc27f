// SPDX-License-Identifier: MIT
// Which Broker mailbroker-client starts when --broker does not say:
// $MAILBROKER_BROKER, else the one beside the client (a build tree keeps every
// program in one folder), else the one in the private directory of the
// install the client belongs to, found from the client's own folder so that an
// installed tree still works when moved to another prefix.
#pragma once

#include <string>

// `clientDir` is the folder of the running client; `privateFromBin` the
// private directory relative to it ("../lib/mailbroker" in an install).
std::string defaultBrokerPath(const std::string& clientDir, const std::string& privateFromBin);
