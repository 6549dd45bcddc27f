// SPDX-License-Identifier: MIT
// The program's standard streams: one request line in, answer lines out.
//
// The request is read with plain read(2) before GTK starts, so that a request
// that cannot be used costs no display connection; what follows the line on
// stdin is never needed, only the end of the file matters (see main.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mb::dialogs {

struct RequestLine {
    std::string text;        // without its "\n"
    bool endOfFile = false;  // stdin already ended: the request's host is gone
    std::string error;       // non-empty: no usable line (nothing, too long, read error)
};

// Reads from fd up to the first "\n" (or the end of the file). A line longer
// than maxBytes is refused without reading it all.
RequestLine readRequestLine(int fd, std::size_t maxBytes);

// Writes all of data to fd, retrying short writes and EINTR; false when the
// reader is gone (EPIPE) or another error stops it.
bool writeAll(int fd, std::string_view data);

}  // namespace mb::dialogs
