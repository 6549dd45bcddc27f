// Problems the user should hear about (a broken profiles.ini line, a skipped
// vCard, an unreadable UI script) while the caller only sees a MAPI code.
//
// The provider runs inside the Broker, which must write nothing to its
// standard streams, so these lines go only to the file named by
// MAILBROKER_PROVIDER_LOG, appended one per line; without it they are dropped.
#pragma once

#include <string>

namespace mb::provider {

void reportProblem(const std::string& text);

}  // namespace mb::provider
