// SPDX-License-Identifier: MIT
// The SMTP address of an Exchange recipient, as the message store reports it
// for a recipient added to a throw-away message.
#pragma once

#include <optional>
#include <string>

class MapiSession;

// The recipient's PR_SMTP_ADDRESS_A, or nothing when any step fails. Every
// MAPI result goes into the session's status.
std::optional<std::string> exchangeToSmtp(MapiSession& session, const char* name);
