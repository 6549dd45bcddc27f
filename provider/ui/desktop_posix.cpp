// launchDetached: the Broker forks a watcher, the watcher forks the program
// and waits for it a bounded time, then reports over a pipe and exits. A
// program still running is then an orphan that init reaps, so no thread or
// zombie of ours outlives the call, even once the provider is unloaded.
//
// Both forks happen in a process with other threads: the children call only
// async-signal-safe functions on data prepared before the first fork.
#include "provider/ui/desktop.h"  // first: <fcntl.h> defines names MAPI uses

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace mb::provider {
namespace {

struct Report {     // one record on the pipe
    int32_t kind;   // LaunchResult::Kind
    int32_t value;  // exit status (Exited) or errno (NotStarted)
};

void send(int fd, LaunchResult::Kind kind, int value) {
    const Report report{static_cast<int32_t>(kind), static_cast<int32_t>(value)};
    ssize_t written = ::write(fd, &report, sizeof report);
    (void)written;  // nobody left to tell
}

int64_t nowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

[[noreturn]] void runProgram(const char* path, char* const* argv, int reportFd) {
    ::setsid();  // out of the Broker's process group and terminal
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGCHLD, SIG_DFL);
    // The pipe first: with a standard stream closed it may be fd 0, 1 or 2.
    if (reportFd != 3 && ::dup2(reportFd, 3) < 0) {
        send(reportFd, LaunchResult::Kind::NotStarted, errno);
        ::_exit(127);
    }
    const int null = ::open("/dev/null", O_RDWR);
    if (::fcntl(3, F_SETFD, FD_CLOEXEC) < 0 || null < 0 || ::dup2(null, 0) < 0 ||
        ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0) {
        send(3, LaunchResult::Kind::NotStarted, errno);
        ::_exit(127);
    }
    ::close_range(4, ~0U, 0);  // the Broker's pipes and files are not the mail program's
    ::execve(path, argv, environ);
    send(3, LaunchResult::Kind::NotStarted, errno);
    ::_exit(127);
}

[[noreturn]] void watch(const char* path, char* const* argv, int reportFd, int64_t waitMs) {
    ::signal(SIGCHLD, SIG_DFL);  // an ignored SIGCHLD would reap the program before we see it
    const pid_t child = ::fork();
    if (child < 0) {
        send(reportFd, LaunchResult::Kind::NotStarted, errno);
        ::_exit(0);
    }
    if (child == 0) {
        runProgram(path, argv, reportFd);
    }
    const int64_t deadline = nowMs() + waitMs;
    while (true) {
        int status = 0;
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            send(reportFd, LaunchResult::Kind::Exited, code);
            ::_exit(0);
        }
        if ((done < 0 && errno != EINTR) || nowMs() >= deadline) {
            send(reportFd, LaunchResult::Kind::StillRunning, 0);
            ::_exit(0);
        }
        const timespec pause{0, 20 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
}

// The first report decides: a failed exec comes before the exit it causes.
LaunchResult collect(int fd, int64_t deadline) {
    Report report{};
    size_t have = 0;
    while (have < sizeof report) {
        pollfd p{fd, POLLIN, 0};
        const int64_t left = deadline - nowMs();
        const int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return LaunchResult{LaunchResult::Kind::StillRunning, -1, 0};
        }
        const ssize_t n = ::read(fd, reinterpret_cast<char*>(&report) + have, sizeof report - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return LaunchResult{LaunchResult::Kind::NotStarted, -1, EIO};
        }
        have += static_cast<size_t>(n);
    }
    switch (static_cast<LaunchResult::Kind>(report.kind)) {
        case LaunchResult::Kind::Exited:
            return LaunchResult{LaunchResult::Kind::Exited, report.value, 0};
        case LaunchResult::Kind::NotStarted:
            return LaunchResult{LaunchResult::Kind::NotStarted, -1, report.value};
        case LaunchResult::Kind::StillRunning:
            break;
    }
    return LaunchResult{LaunchResult::Kind::StillRunning, -1, 0};
}

}  // namespace

LaunchResult launchDetached(const std::string& program, const std::vector<std::string>& args,
                            std::chrono::milliseconds wait) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return LaunchResult{LaunchResult::Kind::NotStarted, -1, errno};
    }
    const int64_t waitMs = wait.count();
    const pid_t watcher = ::fork();
    if (watcher < 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return LaunchResult{LaunchResult::Kind::NotStarted, -1, error};
    }
    if (watcher == 0) {
        ::close(fds[0]);
        watch(program.c_str(), argv.data(), fds[1], waitMs);
    }
    ::close(fds[1]);
    LaunchResult result = collect(fds[0], nowMs() + waitMs + 5000);
    ::close(fds[0]);
    if (result.kind == LaunchResult::Kind::StillRunning) {
        ::kill(watcher, SIGKILL);  // overdue: the program itself runs on
    }
    while (::waitpid(watcher, nullptr, 0) < 0 && errno == EINTR) {
    }
    return result;
}

}  // namespace mb::provider
