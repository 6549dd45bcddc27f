// SPDX-License-Identifier: MIT
// Children are started with fork and execve rather than posix_spawn: a child
// must get back the RLIMIT_NOFILE soft limit we started with, which no
// posix_spawn attribute can do, and glibc's spawn extensions for closing
// descriptors and changing directory depend on its version. Other threads may
// hold locks at the fork, so the child calls only async-signal-safe functions
// (plain system calls) on data prepared before it: argv, envp, the paths to
// try, the descriptors to put in place. exec failures come back through a
// close-on-exec pipe: the parent reads 0 bytes when exec succeeded, or the
// child's errno.
#include "base/launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

extern char** environ;

namespace mb {
namespace {

using Clock = std::chrono::steady_clock;

// The RLIMIT_NOFILE this process started with, before anyone raised or
// lowered it: recorded by a static initializer, so before main (or when a
// library holding this code is loaded), and at the latest at the first start.
struct FileLimit {
    bool known = false;
    rlimit limit{};
};

// A process that raised its limit says in the environment what it started
// with, for copies of this code in libraries it loads afterwards.
const FileLimit& startFileLimit() {
    static const FileLimit recorded = [] {
        FileLimit l;
        l.known = ::getrlimit(RLIMIT_NOFILE, &l.limit) == 0;
        const char* told = std::getenv(kStartFileLimitVariable);
        if (l.known && told != nullptr && *told != '\0') {
            char* end = nullptr;
            errno = 0;
            const unsigned long long soft = std::strtoull(told, &end, 10);
            if (errno == 0 && *end == '\0' && soft <= l.limit.rlim_max) {
                l.limit.rlim_cur = static_cast<rlim_t>(soft);
            }
        }
        return l;
    }();
    return recorded;
}

[[maybe_unused]] const bool kStartFileLimitRecorded = startFileLimit().known;

// Marks a standard error that goes where standard output goes.
constexpr int kSameAsStdout = -2;

// Everything the child needs, made before the fork.
struct Prepared {
    std::vector<std::string> argvText;
    std::vector<char*> argv;
    std::vector<std::string> envText;
    std::vector<char*> envp;
    std::vector<std::string> candidates;  // the paths exec tries, in order
    int sources[3] = {-1, -1, -1};        // what goes to 0, 1, 2; -1 leaves it
    const char* directory = nullptr;
    Command::Group group = Command::Group::Inherit;
    Command::Signals signals = Command::Signals::Default;
    bool setLimit = false;
    rlimit limit{};
    int closeBound = 1024;  // where closing descriptors one by one stops
};

// The parent's side of the standard streams while a child is being started.
struct Streams {
    ScopedFd null;
    ScopedFd childEnd[3];
    ScopedFd parentEnd[3];
};

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (std::string& t : texts) {
        result.push_back(t.data());
    }
    result.push_back(nullptr);
    return result;
}

std::string_view nameOf(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> environmentFor(const Command& command) {
    std::vector<std::string> result;
    if (command.environmentMode == Command::EnvironmentMode::Inherit) {
        for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
            const std::string_view entry(*e);
            if (nameOf(entry) == kStartFileLimitVariable) {
                continue;  // ours alone: the child starts with that limit
            }
            const bool overlaid = std::any_of(
                command.environment.begin(), command.environment.end(),
                [&](const std::string& o) { return nameOf(o) == nameOf(entry); });
            if (!overlaid) {
                result.emplace_back(entry);
            }
        }
    }
    for (const std::string& entry : command.environment) {
        if (entry.find('=') != std::string::npos) {  // a bare name only removes
            result.push_back(entry);
        }
    }
    return result;
}

// execvp's search, done here because execvp itself is not async-signal-safe:
// every PATH element joined with the name, an empty element meaning ".".
std::vector<std::string> candidatesFor(const Command& command,
                                       const std::vector<std::string>& env) {
    const std::string& name = command.argv[0];
    if (!command.searchPath || name.empty() || name.find('/') != std::string::npos) {
        return {name};
    }
    std::string_view path = "/bin:/usr/bin";
    for (const std::string& entry : env) {
        if (entry.starts_with("PATH=")) {
            path = std::string_view(entry).substr(5);
        }
    }
    std::vector<std::string> result;
    while (true) {
        const size_t colon = path.find(':');
        const std::string_view dir = path.substr(0, colon);
        result.push_back((dir.empty() ? std::string(".") : std::string(dir)) + "/" + name);
        if (colon == std::string_view::npos) {
            return result;
        }
        path.remove_prefix(colon + 1);
    }
}

// Fills the stream sources; 0 or an errno.
int prepareStreams(const Command& command, bool pipesAllowed, Streams& streams,
                   Prepared& prepared) {
    const Stdio* modes[3] = {&command.stdinMode, &command.stdoutMode, &command.stderrMode};
    for (int i = 0; i < 3; ++i) {
        const Stdio& mode = *modes[i];
        switch (mode.kind()) {
            case Stdio::Kind::Inherit:
                break;
            case Stdio::Kind::Null:
                if (!streams.null) {
                    streams.null.reset(::open("/dev/null", O_RDWR | O_CLOEXEC));
                    if (!streams.null) {
                        return errno;
                    }
                }
                prepared.sources[i] = streams.null.get();
                break;
            case Stdio::Kind::Descriptor:
                if (mode.fd() < 0 || ::fcntl(mode.fd(), F_GETFD) < 0) {
                    return EBADF;
                }
                prepared.sources[i] = mode.fd();
                break;
            case Stdio::Kind::Pipe: {
                if (!pipesAllowed) {
                    return EINVAL;
                }
                int ends[2];
                if (::pipe2(ends, O_CLOEXEC) != 0) {
                    return errno;
                }
                // The child reads its stdin and writes the other two.
                streams.childEnd[i].reset(i == 0 ? ends[0] : ends[1]);
                streams.parentEnd[i].reset(i == 0 ? ends[1] : ends[0]);
                prepared.sources[i] = streams.childEnd[i].get();
                break;
            }
            case Stdio::Kind::SameAsStdout:
                if (i != 2) {
                    return EINVAL;
                }
                prepared.sources[i] = kSameAsStdout;
                break;
        }
    }
    return 0;
}

// Everything but the descriptors; 0 or an errno.
int prepareCommand(const Command& command, Prepared& prepared) {
    if (command.argv.empty()) {
        return EINVAL;
    }
    prepared.argvText = command.argv;
    prepared.argv = pointers(prepared.argvText);
    prepared.envText = environmentFor(command);
    prepared.envp = pointers(prepared.envText);
    prepared.candidates = candidatesFor(command, prepared.envText);
    prepared.directory = command.workingDirectory.empty() ? nullptr : command.workingDirectory.c_str();
    prepared.group = command.group;
    prepared.signals = command.signals;

    const FileLimit& start = startFileLimit();
    rlimit now{};
    if (::getrlimit(RLIMIT_NOFILE, &now) == 0) {
        if (start.known && now.rlim_cur != start.limit.rlim_cur) {
            prepared.setLimit = true;
            prepared.limit = now;
            // The hard limit may have been lowered since; the soft one cannot pass it.
            prepared.limit.rlim_cur = std::min(start.limit.rlim_cur, now.rlim_max);
        }
        rlim_t bound = std::max(now.rlim_cur, start.known ? start.limit.rlim_cur : 0);
        prepared.closeBound = static_cast<int>(std::min<rlim_t>(bound, 1 << 20));
    }
    return 0;
}

// --- From here to the end of the namespace: what runs in a forked child. ---

// Closes [from, to], both inclusive, to = -1 meaning "all the rest".
void closeRange(int from, int to, int bound) {
    if (to >= 0 && to < from) {
        return;
    }
    const unsigned last = to < 0 ? ~0U : static_cast<unsigned>(to);
    if (::syscall(SYS_close_range, static_cast<unsigned>(from), last, 0U) == 0) {
        return;
    }
    const int end = to < 0 ? bound : std::min(to + 1, bound);
    for (int fd = from; fd < end; ++fd) {
        ::close(fd);
    }
}

// Closes every descriptor from 3 on except `keep` (n of them, any order).
void closeAllExcept(int* keep, int n, int bound) {
    std::sort(keep, keep + n);  // in place, no allocation
    int next = 3;
    for (int i = 0; i < n; ++i) {
        if (keep[i] >= next) {
            closeRange(next, keep[i] - 1, bound);
            next = keep[i] + 1;
        }
    }
    closeRange(next, -1, bound);
}

void writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // nobody left to tell
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
}

// Default dispositions (ignored ones kept if asked) and an empty mask.
// Handlers would be reset by exec anyway, but one of ours must not run in the
// child before exec, and ignored signals stay ignored across exec. Called
// with every signal blocked.
void resetSignals(Command::Signals signals) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    ::sigemptyset(&defaults.sa_mask);
    for (int s = 1; s < NSIG; ++s) {
        if (s == SIGKILL || s == SIGSTOP) {
            continue;
        }
        struct sigaction current {};
        if (signals == Command::Signals::KeepIgnored && ::sigaction(s, nullptr, &current) == 0 &&
            current.sa_handler == SIG_IGN) {
            continue;
        }
        ::sigaction(s, &defaults, nullptr);  // fails harmlessly for the C library's own
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

[[noreturn]] void failChild(int reportFd, int error) {
    const int32_t code = error;
    writeAll(reportFd, &code, sizeof code);
    ::_exit(127);
}

// The child's side of a start: puts everything in place and executes the
// program, or writes errno to reportFd and exits.
[[noreturn]] void execChild(const Prepared& p, int reportFd) {
    if (p.group == Command::Group::OwnSession && ::setsid() < 0) {
        failChild(reportFd, errno);
    }
    if (p.group == Command::Group::OwnGroup && ::setpgid(0, 0) != 0) {
        failChild(reportFd, errno);
    }
    if (p.setLimit && ::setrlimit(RLIMIT_NOFILE, &p.limit) != 0) {
        failChild(reportFd, errno);
    }
    // Nothing that is still needed may sit on 0, 1 or 2 while those are
    // replaced: the report pipe and any source there move up first.
    if (reportFd < 3) {
        reportFd = ::fcntl(reportFd, F_DUPFD_CLOEXEC, 3);
        if (reportFd < 0) {
            ::_exit(127);
        }
    }
    int sources[3] = {p.sources[0], p.sources[1], p.sources[2]};
    for (int& source : sources) {
        if (source >= 0 && source < 3) {
            source = ::fcntl(source, F_DUPFD_CLOEXEC, 3);
            if (source < 0) {
                failChild(reportFd, errno);
            }
        }
    }
    for (int i = 0; i < 3; ++i) {
        const int source = sources[i] == kSameAsStdout ? 1 : sources[i];
        if (source >= 0 && ::dup2(source, i) < 0) {  // dup2 clears close-on-exec
            failChild(reportFd, errno);
        }
    }
    if (p.directory != nullptr && ::chdir(p.directory) != 0) {
        failChild(reportFd, errno);
    }
    // Only the report pipe stays, on 3, and exec closes it.
    if (reportFd != 3) {
        if (::dup3(reportFd, 3, O_CLOEXEC) < 0) {
            failChild(reportFd, errno);
        }
        reportFd = 3;
    }
    closeRange(4, -1, p.closeBound);

    // As execvp: a file found but not executable (EACCES) is remembered while
    // the search goes on; "not here" errors go on; anything else stops.
    int error = ENOENT;
    bool denied = false;
    for (const std::string& path : p.candidates) {
        ::execve(path.c_str(), p.argv.data(), p.envp.data());
        error = errno;
        if (error == EACCES) {
            denied = true;
        } else if (error != ENOENT && error != ENOTDIR && error != ESTALE && error != ENODEV &&
                   error != ETIMEDOUT) {
            break;
        }
    }
    failChild(reportFd, denied && (error == ENOENT || error == ENOTDIR) ? EACCES : error);
}

// --- Back in the parent. ---

// Every signal blocked around a fork, so that none of our handlers runs in the
// child before it has reset them.
class AllSignalsBlocked {
  public:
    AllSignalsBlocked() {
        sigset_t all;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &old_);
    }
    ~AllSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

  private:
    sigset_t old_;
};

// Reads exactly `size` bytes unless the writer closes first; the bytes read.
size_t readFully(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    size_t have = 0;
    while (have < size) {
        const ssize_t n = ::read(fd, p + have, size - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        have += static_cast<size_t>(n);
    }
    return have;
}

void reapNow(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

ExitStatus fromWaitStatus(int status) {
    if (WIFSIGNALED(status)) {
        return ExitStatus::signalled(WTERMSIG(status));
    }
    return ExitStatus::exited(WEXITSTATUS(status));
}

int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1 << 30));
}

int openWaitHandle(pid_t pid) {
    // A pidfd turns "wait with a time-out" into a poll; kernels before 5.3
    // have none, and the waits then look every few milliseconds.
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

}  // namespace

void Process::closeWaitHandle() {
    if (waitHandle_ >= 0) {
        ::close(waitHandle_);
        waitHandle_ = -1;
    }
}

Process Process::start(const Command& command, std::error_code& error) {
    error.clear();
    Prepared prepared;
    Streams streams;
    int failed = prepareCommand(command, prepared);
    if (failed == 0) {
        failed = prepareStreams(command, true, streams, prepared);
    }
    int report[2] = {-1, -1};
    if (failed == 0 && ::pipe2(report, O_CLOEXEC) != 0) {
        failed = errno;
    }
    if (failed != 0) {
        error = std::error_code(failed, std::generic_category());
        return Process();
    }
    ScopedFd reportRead(report[0]);
    ScopedFd reportWrite(report[1]);

    pid_t pid;
    {
        AllSignalsBlocked blocked;
        pid = ::fork();
        if (pid == 0) {
            resetSignals(prepared.signals);
            execChild(prepared, reportWrite.get());
        }
    }
    if (pid < 0) {
        error = std::error_code(errno, std::generic_category());
        return Process();
    }
    reportWrite.reset();
    for (ScopedFd& end : streams.childEnd) {
        end.reset();
    }
    int32_t execError = 0;
    if (readFully(reportRead.get(), &execError, sizeof execError) == sizeof execError) {
        reapNow(pid);
        error = std::error_code(execError, std::generic_category());
        return Process();
    }

    Process process;
    process.id_ = pid;
    process.ownGroup_ = command.group != Command::Group::Inherit;
    process.waitHandle_ = openWaitHandle(pid);
    process.stdin_ = std::move(streams.parentEnd[0]);
    process.stdout_ = std::move(streams.parentEnd[1]);
    process.stderr_ = std::move(streams.parentEnd[2]);
    return process;
}

bool Process::running() {
    return valid() && !lost_ && !wait(std::chrono::milliseconds(0)).has_value() && !lost_;
}

std::optional<ExitStatus> Process::wait(std::chrono::milliseconds timeout) {
    if (status_ || !valid() || lost_) {
        return status_;
    }
    const pid_t pid = static_cast<pid_t>(id_);
    const bool forever = timeout < std::chrono::milliseconds(0);
    const auto deadline = Clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
    while (true) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            status_ = fromWaitStatus(status);
            closeWaitHandle();
            return status_;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {  // ECHILD: reaped behind our back
            lost_ = true;
            closeWaitHandle();
            return std::nullopt;
        }
        const int left = forever ? -1 : msUntil(deadline);
        if (left == 0) {
            return std::nullopt;
        }
        if (waitHandle_ >= 0) {
            pollfd p{waitHandle_, POLLIN, 0};
            ::poll(&p, 1, left);
        } else {
            const timespec pause{0, 5 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
    }
}

bool Process::signal(int32_t signal) {
    // Until the child is reaped its id cannot be given to another process.
    return valid() && !status_ && !lost_ && ::kill(static_cast<pid_t>(id_), signal) == 0;
}

bool Process::signalGroup(int32_t signal) {
    if (!ownGroup_) {
        return this->signal(signal);
    }
    // A leader not yet reaped keeps its group's id from being reused.
    return valid() && !status_ && !lost_ && ::kill(-static_cast<pid_t>(id_), signal) == 0;
}

void Process::terminate() {
    if (valid() && !status_ && !lost_) {
        if (!signalGroup(SIGKILL)) {
            signal(SIGKILL);  // its group gone already; the child itself is not
        }
        wait(kForever);
    }
}

void Process::detach() {
    closeWaitHandle();
    id_ = -1;
    status_.reset();
    lost_ = false;
}

LineCapture captureFirstLine(const Command& command, std::size_t maxLength,
                             std::chrono::milliseconds timeout) {
    LineCapture capture;
    const auto deadline = Clock::now() + timeout;
    Command piped = command;
    piped.stdoutMode = Stdio::pipe();
    if (piped.group == Command::Group::Inherit) {
        piped.group = Command::Group::OwnGroup;
    }
    Process process = Process::start(piped, capture.error);
    if (capture.error) {
        capture.result = LineCapture::Result::NotStarted;
        return capture;
    }
    ScopedFd out = process.takeStdout();
    ::fcntl(out.get(), F_SETFL, ::fcntl(out.get(), F_GETFL) | O_NONBLOCK);

    // The line may be a secret: what is dropped is wiped first.
    std::string text;
    bool haveLine = false;
    const auto fail = [&](LineCapture::Result result) {
        process.terminate();
        ::explicit_bzero(text.data(), text.size());
        text.clear();
        capture.result = result;
        return capture;
    };
    // Reads what is there; false once the line turns out too long.
    const auto readSome = [&] {
        char chunk[4096];
        while (out) {
            const ssize_t n = ::read(out.get(), chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                out.reset();
                break;
            }
            if (n < 0) {
                break;
            }
            if (!haveLine) {
                const size_t before = text.size();
                text.append(chunk, static_cast<size_t>(n));
                const size_t newline = text.find('\n', before);
                if (newline != std::string::npos) {
                    haveLine = true;
                    ::explicit_bzero(text.data() + newline, text.size() - newline);
                    text.resize(newline);
                }
            }
            ::explicit_bzero(chunk, sizeof chunk);
            if (text.size() > maxLength) {
                return false;
            }
        }
        return true;
    };

    while (true) {
        if (!readSome()) {
            return fail(LineCapture::Result::TooLong);
        }
        if (process.wait(std::chrono::milliseconds(0))) {
            break;
        }
        const int left = msUntil(deadline);
        if (left == 0) {
            return fail(LineCapture::Result::TimedOut);
        }
        pollfd fds[2];
        nfds_t count = 0;
        if (out) {
            fds[count++] = {out.get(), POLLIN, 0};
        }
        if (process.waitHandle_ >= 0) {
            fds[count++] = {process.waitHandle_, POLLIN, 0};
        }
        // Without a pidfd the exit is looked for every few milliseconds.
        ::poll(fds, count, process.waitHandle_ >= 0 ? left : std::min(left, 5));
    }
    // What it wrote before it ended is still in the pipe; a process it left
    // behind may hold the pipe open, so this reads only what is there.
    if (!readSome()) {
        return fail(LineCapture::Result::TooLong);
    }
    capture.exit = *process.exitStatus();
    if (!capture.exit.success()) {
        return fail(LineCapture::Result::Failed);
    }
    if (text.empty()) {
        return fail(LineCapture::Result::NoOutput);
    }
    capture.result = LineCapture::Result::Line;
    capture.line = std::move(text);
    return capture;
}

namespace {

// One record from runDetached's helper to the caller.
struct DetachedReport {
    int32_t result;  // DetachedRun::Result
    int32_t kind;    // ExitStatus::Kind
    int32_t value;   // the exit code or signal, or errno for NotStarted
};

void sendReport(int fd, DetachedRun::Result result, int32_t kind, int32_t value) {
    const DetachedReport report{static_cast<int32_t>(result), kind, value};
    writeAll(fd, &report, sizeof report);
}

int64_t nowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

// The helper: a forked copy of us that starts the program, waits for it at
// most waitMs, reports and exits. Async-signal-safe calls only.
[[noreturn]] void watch(const Prepared& p, int reportFd, int64_t waitMs) {
    // Our pipes, sockets and files are not held open for as long as it waits.
    int keep[4] = {reportFd, p.sources[0], p.sources[1], p.sources[2]};
    closeAllExcept(keep, 4, p.closeBound);

    int execReport[2];
    if (::pipe2(execReport, O_CLOEXEC) != 0) {
        sendReport(reportFd, DetachedRun::Result::NotStarted, 0, errno);
        ::_exit(0);
    }
    const pid_t child = ::fork();
    if (child < 0) {
        sendReport(reportFd, DetachedRun::Result::NotStarted, 0, errno);
        ::_exit(0);
    }
    if (child == 0) {
        ::close(execReport[0]);
        execChild(p, execReport[1]);
    }
    ::close(execReport[1]);
    int32_t execError = 0;
    if (readFully(execReport[0], &execError, sizeof execError) == sizeof execError) {
        reapNow(child);
        sendReport(reportFd, DetachedRun::Result::NotStarted, 0, execError);
        ::_exit(0);
    }
    const int64_t deadline = nowMs() + waitMs;
    while (true) {
        int status = 0;
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            const ExitStatus exit = fromWaitStatus(status);
            sendReport(reportFd, DetachedRun::Result::Exited, static_cast<int32_t>(exit.kind),
                       exit.value);
            ::_exit(0);
        }
        if ((done < 0 && errno != EINTR) || nowMs() >= deadline) {
            sendReport(reportFd, DetachedRun::Result::StillRunning, 0, 0);
            ::_exit(0);
        }
        const timespec pause{0, 20 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
}

}  // namespace

DetachedRun runDetached(const Command& command, std::chrono::milliseconds wait) {
    DetachedRun run;
    Prepared prepared;
    Streams streams;
    int failed = prepareCommand(command, prepared);
    if (failed == 0) {
        failed = prepareStreams(command, false, streams, prepared);  // nobody would read a pipe
    }
    int fds[2] = {-1, -1};
    if (failed == 0 && ::pipe2(fds, O_CLOEXEC) != 0) {
        failed = errno;
    }
    if (failed != 0) {
        run.error = std::error_code(failed, std::generic_category());
        return run;
    }
    ScopedFd reportRead(fds[0]);
    ScopedFd reportWrite(fds[1]);
    const int64_t waitMs = std::max<int64_t>(wait.count(), 0);

    pid_t watcher;
    {
        AllSignalsBlocked blocked;
        watcher = ::fork();
        if (watcher == 0) {
            // A default SIGCHLD whatever is kept: an ignored one would reap
            // the program before the helper sees its exit.
            resetSignals(prepared.signals);
            struct sigaction defaults {};
            defaults.sa_handler = SIG_DFL;
            ::sigaction(SIGCHLD, &defaults, nullptr);
            watch(prepared, reportWrite.get(), waitMs);
        }
    }
    if (watcher < 0) {
        run.error = std::error_code(errno, std::generic_category());
        return run;
    }
    reportWrite.reset();

    // The helper answers within waitMs; a few seconds more allow for a loaded
    // machine before it counts as overdue.
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs + 5000);
    DetachedReport report{};
    size_t have = 0;
    bool overdue = false;
    while (have < sizeof report) {
        pollfd p{reportRead.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, msUntil(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            overdue = true;
            break;
        }
        const ssize_t n =
            ::read(reportRead.get(), reinterpret_cast<char*>(&report) + have, sizeof report - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        have += static_cast<size_t>(n);
    }
    if (overdue) {
        ::kill(watcher, SIGKILL);  // the program itself runs on
    }
    reapNow(watcher);

    if (overdue) {
        run.result = DetachedRun::Result::StillRunning;
    } else if (have < sizeof report) {
        run.error = std::error_code(EIO, std::generic_category());  // the helper died unheard
    } else {
        switch (static_cast<DetachedRun::Result>(report.result)) {
            case DetachedRun::Result::Exited:
                run.result = DetachedRun::Result::Exited;
                run.exit = {static_cast<ExitStatus::Kind>(report.kind), report.value};
                break;
            case DetachedRun::Result::NotStarted:
                run.error = std::error_code(report.value, std::generic_category());
                break;
            case DetachedRun::Result::StillRunning:
                run.result = DetachedRun::Result::StillRunning;
                break;
        }
    }
    return run;
}

bool raiseFileLimit() noexcept {
    const FileLimit& start = startFileLimit();
    rlimit now{};
    if (!start.known || ::getrlimit(RLIMIT_NOFILE, &now) != 0) {
        return false;
    }
    if (std::getenv(kStartFileLimitVariable) == nullptr) {
        const std::string soft = std::to_string(static_cast<unsigned long long>(start.limit.rlim_cur));
        if (::setenv(kStartFileLimitVariable, soft.c_str(), 1) != 0) {
            return false;
        }
    }
    if (now.rlim_cur == now.rlim_max) {
        return true;
    }
    now.rlim_cur = now.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &now) == 0;
}

}  // namespace mb
