// SPDX-License-Identifier: MIT
#include "dialogs/detach.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dialogs/stdio_line.h"

namespace mb::dialogs {

namespace {
constexpr char kShown = 'S';
constexpr char kAnswered = 'A';
}  // namespace

void DetachedChild::tell(char what) {
    if (toParent_ >= 0) {
        writeAll(toParent_, std::string_view(&what, 1));
    }
}

void DetachedChild::shown(std::string_view shownLine) {
    if (shown_) {
        return;
    }
    shown_ = true;
    writeAll(STDOUT_FILENO, shownLine);
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    // Only after stdout is no longer the driver's: once the parent ends, the
    // driver may take the stream's end as the program's.
    tell(kShown);
    ::close(toParent_);
    toParent_ = -1;
}

void DetachedChild::answered() { tell(kAnswered); }

int runDetached(const std::function<int(DetachedChild&)>& body, const std::string& lostLine) {
    int fds[2];
    // Close-on-exec: anything the child's toolkit spawns must not hold the
    // parent's wait open.
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    pid_t child = ::fork();
    if (child < 0) {
        int saved = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        errno = saved;
        return -1;
    }
    if (child == 0) {
        ::close(fds[0]);
        ::setsid();
        DetachedChild self(fds[1]);
        int code = body(self);
        _exit(code);
    }

    ::close(fds[1]);
    bool answered = false;
    char what = 0;
    for (;;) {
        ssize_t n = ::read(fds[0], &what, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        if (what == kShown) {
            ::close(fds[0]);
            return 0;
        }
        if (what == kAnswered) {
            answered = true;
        }
    }
    ::close(fds[0]);
    // The child is ours and ended (or closed its end on the way out): reap it.
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!answered) {
        writeAll(STDOUT_FILENO, lostLine);
    }
    return 1;
}

}  // namespace mb::dialogs
