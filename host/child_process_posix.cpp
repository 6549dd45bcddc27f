// Children started with fork/exec; exec failures come back through a close-on-exec
// pipe so the parent can report them instead of seeing an exit code 127.
#include "host/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "host/host_error.h"

extern char** environ;

namespace {

// Inherited environment with `overlay` ("NAME=value") replacing same-named entries.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overlay) {
    std::vector<std::string> result;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& o : overlay) {
            replaced = replaced || o.substr(0, o.find('=')) == name;
        }
        if (!replaced) {
            result.push_back(std::move(entry));
        }
    }
    result.insert(result.end(), overlay.begin(), overlay.end());
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& t : texts) {
        result.push_back(t.data());
    }
    result.push_back(nullptr);
    return result;
}

}  // namespace

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), status_(std::exchange(other.status_, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        terminate();
        pid_ = std::exchange(other.pid_, -1);
        status_ = std::exchange(other.status_, std::nullopt);
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    terminate();
}

ChildProcess ChildProcess::start(const std::string& path, const std::vector<std::string>& args,
                                 const Options& options) {
    std::vector<std::string> argvText{path};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<std::string> envText = mergedEnvironment(options.environment);
    std::vector<char*> argv = pointers(argvText);
    std::vector<char*> envp = pointers(envText);

    const char* outPath = options.outputPath.empty() ? "/dev/null" : options.outputPath.c_str();
    int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out = ::open(outPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int report[2] = {-1, -1};
    if (in < 0 || out < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
        int err = errno;
        for (int fd : {in, out}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        throw HostError(HostError::Kind::StartFailed,
                        "cannot prepare to start " + path + ": " + std::strerror(err));
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        // The Broker must not hold the caller's descriptors open.
        ::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
        ::execve(path.c_str(), argv.data(), envp.data());
        int err = errno;
        ssize_t ignored = ::write(report[1], &err, sizeof err);
        (void)ignored;
        ::_exit(127);
    }
    int forkErr = errno;
    ::close(in);
    ::close(out);
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        throw HostError(HostError::Kind::StartFailed,
                        "cannot start " + path + ": " + std::strerror(forkErr));
    }
    int execErr = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &execErr, sizeof execErr);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    ChildProcess child(pid);
    if (n == static_cast<ssize_t>(sizeof execErr)) {
        child.wait(-1);
        throw HostError(HostError::Kind::StartFailed,
                        "cannot run " + path + ": " + std::strerror(execErr));
    }
    return child;
}

bool ChildProcess::running() {
    return pid_ > 0 && !wait(0).has_value();
}

std::optional<int> ChildProcess::wait(int timeoutMs) {
    if (status_ || pid_ <= 0) {
        return status_;
    }
    if (timeoutMs != 0) {
        // A pidfd turns "wait with a time-out" into one poll instead of a sleep loop.
        int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            while (::poll(&p, 1, timeoutMs) < 0 && errno == EINTR) {
            }
            ::close(pidfd);
        } else if (timeoutMs > 0) {
            // Kernels before 5.3: look every few milliseconds.
            for (int waited = 0; waited < timeoutMs; waited += 5) {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                    status_ = status;
                    return status_;
                }
                ::usleep(5000);
            }
        }
    }
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, timeoutMs < 0 ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid_) {
        status_ = status;
    }
    return status_;
}

bool ChildProcess::kill(int signal) {
    return running() && ::kill(pid_, signal) == 0;
}

void ChildProcess::terminate() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        wait(-1);
    }
}

std::string describeExitStatus(int status) {
    if (WIFEXITED(status)) {
        return "exit code " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "signal " + std::to_string(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}
