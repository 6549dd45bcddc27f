// SPDX-License-Identifier: MIT
// Opening a file a user named (a configuration file, a script) without ever
// blocking: a FIFO without a writer, a terminal or another device would
// otherwise hold the opening thread for good.
#pragma once

#include <cstddef>
#include <string>

#include "base/scoped_fd.h"

namespace mb {

// The failure for a path that names something other than a regular file or
// a directory (a FIFO, a device, a socket).
constexpr int kNotRegularFile = -1;

// Opens `path` for reading when it is a regular file, without blocking on the
// open. Returns 0 with `fd` set, or the failure: an errno value (EISDIR for a
// directory) or kNotRegularFile.
int openRegularFile(const std::string& path, ScopedFd& fd);

// Reads the whole regular file at `path` into `text` (appended). Returns 0,
// an errno value (EFBIG past `maxBytes`) or kNotRegularFile.
int readRegularFile(const std::string& path, std::size_t maxBytes, std::string& text);

// A failure of the two above in words, e.g. "not a regular file (a FIFO, a
// device or a socket)" or "Is a directory".
std::string regularFileFailureText(int failure);

}  // namespace mb
