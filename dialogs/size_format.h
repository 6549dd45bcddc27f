// SPDX-License-Identifier: MIT
// Attachment sizes as people read them: "0 bytes", "1 byte", "999 bytes",
// "12.3 kB", "4.0 MB" (decimal units, as file managers show them).
#pragma once

#include <cstdint>
#include <string>

namespace mb::dialogs {

std::string formatSize(std::uint64_t bytes);

// The size of the file at path now: 0 when it is missing, unreadable or not
// a regular file, since that is what the message would carry.
std::uint64_t currentFileSize(const std::string& path);

}  // namespace mb::dialogs
