// SPDX-License-Identifier: MIT
#include "provider/com/diagnostics.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "base/scoped_fd.h"

namespace mb::provider {
namespace {

// O_NONBLOCK: a FIFO named as the log, with no one reading it, would
// otherwise hold the session in the open for good; the line is dropped.
ScopedFd openLog(const std::string& path) {
    return ScopedFd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
               0600));
}

void makeFolders(const std::string& path) {
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        ::mkdir(path.substr(0, at).c_str(), 0700);
    }
}

}  // namespace

std::string providerLogPath() {
    const char* named = std::getenv("MAILBROKER_PROVIDER_LOG");
    if (named != nullptr && named[0] != '\0') {
        return named;
    }
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/mailbroker/provider.log";
    }
    const char* home = std::getenv("HOME");
    std::string base = home != nullptr && home[0] == '/' ? home : "";
    if (base.empty()) {
        const passwd* entry = ::getpwuid(::getuid());
        base = entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
    }
    return base + "/.local/state/mailbroker/provider.log";
}

void reportProblem(const std::string& text) {
    const std::string path = providerLogPath();
    ScopedFd fd = openLog(path);
    if (fd.get() < 0 && errno == ENOENT) {
        makeFolders(path);
        fd = openLog(path);
    }
    if (fd.get() < 0) {
        return;
    }
    const std::string line = "mailbroker provider: " + text + "\n";
    struct stat opened {};
    if (::fstat(fd.get(), &opened) == 0 && S_ISREG(opened.st_mode)) {
        // Rotation under the lock of the file itself: whoever got the lock
        // after a rotation holds the old file, and follows the name to the
        // new one. A few tries, then the line goes where it is.
        for (int tries = 0; tries < 3; ++tries) {
            if (::flock(fd.get(), LOCK_EX) != 0) {
                break;
            }
            struct stat named {};
            if (::fstat(fd.get(), &opened) != 0 || ::stat(path.c_str(), &named) != 0) {
                break;
            }
            if (named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
                ScopedFd current = openLog(path);
                if (current.get() < 0) {
                    break;
                }
                fd = std::move(current);  // the old file's lock goes with it
                continue;
            }
            if (static_cast<std::size_t>(opened.st_size) + line.size() > kLogRotateBytes &&
                opened.st_size > 0) {
                const std::string first = path + ".1";
                ::rename(first.c_str(), (path + ".2").c_str());
                ::rename(path.c_str(), first.c_str());
                ScopedFd fresh = openLog(path);
                if (fresh.get() >= 0) {
                    ::flock(fresh.get(), LOCK_EX);
                    fd = std::move(fresh);
                }
            }
            break;
        }
    }
    // One write per line, so that lines of concurrent sessions do not interleave.
    ssize_t written = ::write(fd.get(), line.data(), line.size());
    (void)written;
}

}  // namespace mb::provider
