// SPDX-License-Identifier: MIT
// Problems the user should hear about (a broken profiles.ini line, a skipped
// vCard, an unreadable UI script, why a message waits) while the caller only
// sees a MAPI code.
//
// The provider runs inside the Broker, which must write nothing to its
// standard streams, so these lines go to a file, one per line: the one named
// by MAILBROKER_PROVIDER_LOG, else $XDG_STATE_HOME/mailbroker/provider.log
// (~/.local/state/mailbroker/provider.log), its folder made on first use.
// A regular file past kLogRotateBytes is rotated under an flock of the file:
// provider.log becomes provider.log.1, that one .2, and the oldest goes.
#pragma once

#include <cstddef>
#include <string>

namespace mb::provider {

inline constexpr std::size_t kLogRotateBytes = 1024 * 1024;

// Where the lines go now.
std::string providerLogPath();

void reportProblem(const std::string& text);

}  // namespace mb::provider
