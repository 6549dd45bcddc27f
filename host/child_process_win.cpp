// SPDX-License-Identifier: MIT
// ChildProcess over the launcher on Windows. There are no wait statuses here:
// a status is the process's exit code (GetExitCodeProcess), and a child ended
// by kill(signal) exits with 128 + signal (see base/launcher_win.cpp).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <utility>

#include "base/scoped_fd.h"
#include "host/child_process.h"
#include "host/host_error.h"

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : process_(std::move(other.process_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    process_ = std::move(other.process_);
    return *this;
}

ChildProcess::~ChildProcess() = default;

ChildProcess ChildProcess::start(const std::string& path, const std::vector<std::string>& args,
                                 const Options& options) {
    mb::Command command;
    command.argv = {path};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    command.environment = options.environment;
    command.stdinMode = mb::Stdio::null();
    mb::ScopedFd out;
    if (options.outputPath.empty()) {
        command.stdoutMode = mb::Stdio::null();
    } else {
        // _O_NOINHERIT: only the launcher's copy reaches the child.
        out = mb::ScopedFd(::_open(options.outputPath.c_str(),
                                   _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                                   _S_IREAD | _S_IWRITE));
        if (!out) {
            throw HostError(HostError::Kind::StartFailed,
                            "cannot prepare to start " + path + ": " +
                                std::generic_category().message(errno));
        }
        command.stdoutMode = mb::Stdio::descriptor(out.get());
    }
    command.stderrMode = mb::Stdio::sameAsStdout();
    std::error_code error;
    ChildProcess child;
    child.process_ = mb::Process::start(command, error);
    if (error) {
        throw HostError(HostError::Kind::StartFailed, "cannot run " + path + ": " + error.message());
    }
    return child;
}

std::optional<int> ChildProcess::wait(int timeoutMs) {
    const std::optional<mb::ExitStatus> exit =
        process_.wait(timeoutMs < 0 ? mb::Process::kForever : std::chrono::milliseconds(timeoutMs));
    return exit ? std::optional<int>(exit->value) : std::nullopt;
}

std::string describeExitStatus(int status) {
    return mb::ExitStatus::exited(status).describe();
}
