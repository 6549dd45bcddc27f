// SPDX-License-Identifier: MIT
// ChildProcess over the launcher. Its callers read exit statuses with the
// <sys/wait.h> macros, so the launcher's exit description is handed back in
// that form.
#include "host/child_process.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <utility>

#include "base/scoped_fd.h"
#include "host/host_error.h"

namespace {

int waitStatusOf(const mb::ExitStatus& exit) {
    // Exited: the code in the second byte; signalled: the signal number in
    // the low seven bits, which is how waitpid reports them.
    return exit.kind == mb::ExitStatus::Kind::Exited ? (exit.value & 0xff) << 8 : exit.value & 0x7f;
}

}  // namespace

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : process_(std::move(other.process_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    process_ = std::move(other.process_);
    return *this;
}

ChildProcess::~ChildProcess() = default;

ChildProcess ChildProcess::start(const std::string& path, const std::vector<std::string>& args,
                                 const Options& options) {
    const char* outPath = options.outputPath.empty() ? "/dev/null" : options.outputPath.c_str();
    mb::ScopedFd out(::open(outPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!out) {
        throw HostError(HostError::Kind::StartFailed,
                        "cannot prepare to start " + path + ": " +
                            std::generic_category().message(errno));
    }
    mb::Command command;
    command.argv = {path};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    command.environment = options.environment;
    command.stdinMode = mb::Stdio::null();
    command.stdoutMode = mb::Stdio::descriptor(out.get());
    command.stderrMode = mb::Stdio::sameAsStdout();
    // What the host ignores, its Broker ignores too (a host that ignores
    // SIGXFSZ has it see EFBIG rather than die); the mask still starts empty.
    command.signals = mb::Command::Signals::KeepIgnored;
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
    return exit ? std::optional<int>(waitStatusOf(*exit)) : std::nullopt;
}

std::string describeExitStatus(int status) {
    if (WIFEXITED(status)) {
        return mb::ExitStatus::exited(WEXITSTATUS(status)).describe();
    }
    if (WIFSIGNALED(status)) {
        return mb::ExitStatus::signalled(WTERMSIG(status)).describe();
    }
    return "status " + std::to_string(status);
}
