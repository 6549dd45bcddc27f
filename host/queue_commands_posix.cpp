// SPDX-License-Identifier: MIT
#include "host/queue_commands.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include "base/launcher.h"
#include "host/outbox_report.h"

int queueCommand(ClientSession&, const std::vector<std::string>&, std::ostream& out,
                 std::ostream& err) {
    return listQueues(out, err, std::time(nullptr));
}

int checkCommand(ClientSession& session, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err) {
    const std::string& broker = session.settings().brokerPath;
    const std::size_t slash = broker.rfind('/');
    const std::string program =
        (slash == std::string::npos ? std::string(".") : broker.substr(0, slash)) +
        "/mailbroker-check";
    mb::Command command;
    command.argv = {program};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    command.stdinMode = mb::Stdio::null();
    command.stdoutMode = mb::Stdio::pipe();
    command.stderrMode = mb::Stdio::sameAsStdout();
    std::error_code failed;
    mb::Process child = mb::Process::start(command, failed);
    if (failed) {
        err << "mailbroker-client: cannot run " << program << ": " << failed.message() << '\n';
        return 2;
    }
    mb::ScopedFd output = child.takeStdout();
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(output.get(), buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) {
            out.write(buffer, got);
        }
    }
    const std::optional<mb::ExitStatus> status = child.wait(mb::Process::kForever);
    if (!status || status->kind != mb::ExitStatus::Kind::Exited) {
        err << "mailbroker-client: " << program << " ended with "
            << (status ? status->describe() : "no status") << '\n';
        return 6;
    }
    return status->value;
}
