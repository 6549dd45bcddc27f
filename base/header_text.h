// SPDX-License-Identifier: MIT
// Header text as a person reads it: RFC 2047 encoded words (B and Q) in
// UTF-8, US-ASCII or ISO-8859-1 decoded, others shown as they stand; tabs
// become blanks and other control characters '?', so that a subject cannot
// steer a terminal or a notification. The client lists subjects with it, the
// spooler names a message that needs the user by it.
#pragma once

#include <string>

namespace mb {

// The decoding of an unfolded header value.
std::string decodeHeaderText(const std::string& raw);

}  // namespace mb
