// SPDX-License-Identifier: MIT
// The two values the host passes: " --ipc=NAME --proc=PID".
#pragma once

#include "foundation/ks_string.h"

struct BrokerCommandLine {
    KsString pipeName;           // the text between the two markers, unparsed
    KsString hostProcessIdText;  // everything after " --proc="
};

// False when " --ipc=" is missing or no " --proc=" follows it. The markers
// match exactly: case-sensitive, with a blank (not a tab) in front.
bool parseBrokerCommandLine(const KsString& commandLine, BrokerCommandLine& out);
