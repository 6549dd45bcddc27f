// SPDX-License-Identifier: MIT
// The Broker from start to end, given its command line.
#pragma once

#include "broker/pipe_security.h"

// Serves the pipe named on the command line until the host process ends, then
// ends every connection. Writes nothing anywhere; returns the exit code, 0.
int runBroker(const char* commandLine, PipeSecurity security);
