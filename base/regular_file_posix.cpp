// SPDX-License-Identifier: MIT
#include "base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace mb {

int openRegularFile(const std::string& path, ScopedFd& fd) {
    // O_NONBLOCK makes the open itself return at once whatever the path is;
    // the kind is judged on what was opened, so a name swapped meanwhile
    // cannot slip through.
    ScopedFd opened(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!opened) {
        return errno;
    }
    struct stat info {};
    if (::fstat(opened.get(), &info) != 0) {
        return errno;
    }
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(info.st_mode)) {
        return kNotRegularFile;
    }
    // Regular files ignore the flag; cleared all the same, so that whoever
    // reads the descriptor sees ordinary blocking reads.
    const int flags = ::fcntl(opened.get(), F_GETFL);
    if (flags >= 0) {
        ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    fd = std::move(opened);
    return 0;
}

int readRegularFile(const std::string& path, std::size_t maxBytes, std::string& text) {
    ScopedFd fd;
    if (const int failure = openRegularFile(path, fd); failure != 0) {
        return failure;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return errno;
    }
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        return EFBIG;
    }
    const std::size_t start = text.size();
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return errno;
        }
        if (got == 0) {
            return 0;
        }
        text.append(chunk, static_cast<std::size_t>(got));
        if (text.size() - start > maxBytes) {
            return EFBIG;
        }
    }
}

std::string regularFileFailureText(int failure) {
    if (failure == kNotRegularFile) {
        return "not a regular file (a FIFO, a device or a socket)";
    }
    return std::strerror(failure);
}

}  // namespace mb
