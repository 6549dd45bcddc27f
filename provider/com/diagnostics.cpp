#include "provider/com/diagnostics.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "base/scoped_fd.h"

namespace mb::provider {

void reportProblem(const std::string& text) {
    const char* path = std::getenv("MAILBROKER_PROVIDER_LOG");
    if (path == nullptr || *path == '\0') {
        return;
    }
    // O_NONBLOCK: a FIFO named as the log, with no one reading it, would
    // otherwise hold the session in the open for good; the line is dropped.
    const ScopedFd fd(
        ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600));
    if (fd.get() < 0) {
        return;
    }
    // One write per line, so that lines of concurrent sessions do not interleave.
    std::string line = "mailbroker provider: " + text + "\n";
    ssize_t written = ::write(fd.get(), line.data(), line.size());
    (void)written;
}

}  // namespace mb::provider
