// SPDX-License-Identifier: MIT
// "New Message": the compose window of mailbroker-dialogs.
//
// Not modal and not tied to the Broker: the person may keep it open long
// after the request that opened it ended. It sends through
// mailbroker-client (mail_submit.h) and keeps its message in the profile's
// Drafts folder (draft_writer.h).
#pragma once

#include <gtk/gtk.h>

#include <functional>

#include "provider/ui/dialog_protocol.h"

namespace mb::dialogs {

// Builds the window for a "compose" request and presents it; onShown runs
// once, when the window is mapped. The window owns itself, and the
// application quits when it closes.
void presentComposeWindow(GtkApplication* app, const Request& request,
                          std::function<void()> onShown);

}  // namespace mb::dialogs
