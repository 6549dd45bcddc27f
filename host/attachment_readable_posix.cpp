// SPDX-License-Identifier: MIT
#include <sys/stat.h>
#include <unistd.h>

#include "base/regular_file.h"
#include "host/attachment_check.h"

bool attachmentReadable(const std::string& path) {
    mb::ScopedFd fd;
    if (mb::openRegularFile(path, fd) != 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return false;
    }
    // The Broker reads exactly the size the file reports; a file that still
    // has data past it (those of /proc report 0), or fails to read where its
    // data should be, is refused there.
    char probe = 0;
    if (info.st_size > 0 && ::pread(fd.get(), &probe, 1, 0) != 1) {
        return false;
    }
    return ::pread(fd.get(), &probe, 1, info.st_size) == 0;
}
