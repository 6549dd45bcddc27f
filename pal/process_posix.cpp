// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "pal/kernel_object.h"
#include "pal/win32.h"

namespace {

// Signalled once the process has ended: a process descriptor polls readable from
// then on, also after the process has been reaped.
class ProcessObject final : public KernelObject {
  public:
    explicit ProcessObject(int pidfd) : pidfd_(pidfd) {}
    ~ProcessObject() override { ::close(pidfd_); }

    int waitFd() override { return pidfd_; }

    bool tryAcquire() override {
        pollfd p{pidfd_, POLLIN, 0};
        int rc;
        do {
            rc = ::poll(&p, 1, 0);
        } while (rc < 0 && errno == EINTR);
        return rc > 0 && (p.revents & POLLIN) != 0;
    }

  private:
    const int pidfd_;
};

int openPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// /proc/self/cmdline holds the arguments, each ended by a NUL.
std::string readCommandLine() {
    std::string text;
    int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            text.append(buffer, static_cast<size_t>(n));
        }
        ::close(fd);
    }
    if (text.empty()) {
        // No /proc mounted: the program name is all that is known.
        return program_invocation_name != nullptr ? program_invocation_name : "";
    }
    // A process that rewrote its argument area may have left out the last NUL.
    if (text.back() == '\0') {
        text.pop_back();
    }
    for (char& c : text) {
        if (c == '\0') {
            c = ' ';
        }
    }
    return text;
}

char* commandLineBuffer() {
    try {
        std::string text = readCommandLine();
        // Never freed: callers may hold the pointer until the process exits.
        char* buffer = new char[text.size() + 1];
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return buffer;
    } catch (const std::bad_alloc&) {
        static char empty[1] = "";
        return empty;
    }
}

}  // namespace

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(::getpid());
}

HANDLE OpenProcess(DWORD /*desiredAccess*/, BOOL /*inheritHandle*/, DWORD processId) {
    // Also rules out ids that pid_t cannot hold, which name no process.
    if (processId == 0 || processId > static_cast<DWORD>(INT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const pid_t pid = static_cast<pid_t>(processId);
    int pidfd = openPidFd(pid);
    if (pidfd < 0) {
        int err = errno;
        if (err == ENOSYS) {
            // Without process descriptors, still tell a missing process from one
            // that cannot be watched.
            bool exists = ::kill(pid, 0) == 0 || errno == EPERM;
            SetLastError(exists ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        } else if (err == ESRCH || err == EINVAL || err == ENOENT) {
            // EINVAL, or ENOENT on newer kernels: the id of a thread other than
            // a process's main thread.
            SetLastError(ERROR_INVALID_PARAMETER);
        } else {
            SetLastError(palErrorFromErrno(err));
        }
        return nullptr;
    }
    try {
        auto process = std::make_shared<ProcessObject>(pidfd);
        return palInsertHandle(std::move(process));
    } catch (const std::bad_alloc&) {
        ::close(pidfd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

LPSTR GetCommandLineA() {
    static char* const line = commandLineBuffer();  // initialised once, thread-safely
    return line;
}
