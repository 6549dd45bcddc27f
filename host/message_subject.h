// SPDX-License-Identifier: MIT
// The Subject of a stored RFC 5322 message, for listing what waits in the
// Outbox. Only the header block is read (at most kHeaderLimit bytes); encoded
// words (RFC 2047, B and Q) in UTF-8, US-ASCII or ISO-8859-1 are decoded,
// others are shown as they stand. Tabs become blanks and other control characters '?', so a subject
// cannot steer the terminal.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "base/header_text.h"

constexpr size_t kHeaderLimit = 256u << 10;

// The decoded subject; nothing when the file has no Subject header or cannot be read.
std::optional<std::string> readSubject(const std::string& path);

// The decoding alone, on an unfolded header value.
using mb::decodeHeaderText;
