// SPDX-License-Identifier: MIT
// Running mailbroker-dialogs for one dialog (the protocol is in
// ui/dialog_protocol.h).
//
// The program is found as: the path in the environment variable
// MAILBROKER_DIALOGS; else "mailbroker-dialogs" beside the provider library
// itself (where the build and the package put it); else on PATH.
//
// A modal dialog blocks the calling request until the user answers, with no
// time-out: a person may take as long as they like. If the request's host
// ends, the Broker ends, the program reads end of file and closes the dialog.
#pragma once

#include <string>

#include "provider/ui/dialog_protocol.h"

namespace mb::provider {

// Where the dialog program is; "" when it is nowhere to be found.
std::string dialogProgramPath();

struct DialogOutcome {
    bool answered = false;    // false: `failure` says why there is no answer
    dialogs::Answer answer;   // the "result" line, or for compose "shown"
    std::string failure;      // for the provider log
};

// Starts the program, sends `request` and waits for its answer: the first
// "result" line or, for a compose request, the "shown" event (the window then
// runs on by itself and we are done with it).
DialogOutcome runDialog(const dialogs::Request& request);

}  // namespace mb::provider
