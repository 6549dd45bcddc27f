// SPDX-License-Identifier: MIT
// SendMail: a message in the default store's Outbox with the request's
// recipients, subject, body and attachments, submitted at once when "silent",
// otherwise opened in the compose window.
#pragma once

#include "codec/param_map.h"

class MapiSession;

// Returns {"result": "1"} when the message was composed, else "0"; the MAPI
// outcome is left in the session's status.
ParamMap sendMail(MapiSession& session);
