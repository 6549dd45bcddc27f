// SPDX-License-Identifier: MIT
#include "dialogs/stdio_line.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace mb::dialogs {

RequestLine readRequestLine(int fd, std::size_t maxBytes) {
    RequestLine line;
    std::string buffer;
    char chunk[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            line.error = std::string("cannot read the request: ") + std::strerror(errno);
            return line;
        }
        if (n == 0) {
            line.endOfFile = true;
            break;
        }
        std::size_t before = buffer.size();
        buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t newline = buffer.find('\n', before);
        if (newline != std::string::npos) {
            buffer.resize(newline);
            break;
        }
        if (buffer.size() > maxBytes) {
            break;
        }
    }
    if (buffer.size() > maxBytes) {
        line.error = "the request is longer than " + std::to_string(maxBytes) + " bytes";
        return line;
    }
    if (buffer.empty() && line.endOfFile) {
        line.error = "no request on standard input";
        return line;
    }
    line.text = std::move(buffer);
    return line;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace mb::dialogs
