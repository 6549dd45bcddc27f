// SPDX-License-Identifier: MIT
// launchDetached over the launcher's detached run: a helper process starts the
// program and waits for it a bounded time, so a program still running then is
// an orphan that init reaps, and no thread or zombie of ours outlives the
// call, even once the provider is unloaded.
#include "provider/ui/desktop.h"  // first: <fcntl.h> defines names MAPI uses

#include "base/launcher.h"

namespace mb::provider {

LaunchResult launchDetached(const std::string& program, const std::vector<std::string>& args,
                            std::chrono::milliseconds wait) {
    mb::Command command;
    command.argv = {program};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    command.stdinMode = mb::Stdio::null();
    command.stdoutMode = mb::Stdio::null();
    command.stderrMode = mb::Stdio::null();
    command.group = mb::Command::Group::OwnSession;  // out of the Broker's group and terminal
    const mb::DetachedRun run = mb::runDetached(command, wait);
    switch (run.result) {
        case mb::DetachedRun::Result::Exited: {
            const bool signalled = run.exit.kind == mb::ExitStatus::Kind::Signalled;
            return LaunchResult{LaunchResult::Kind::Exited,
                                signalled ? 128 + run.exit.value : run.exit.value, 0};
        }
        case mb::DetachedRun::Result::StillRunning:
            return LaunchResult{LaunchResult::Kind::StillRunning, -1, 0};
        case mb::DetachedRun::Result::NotStarted:
            break;
    }
    return LaunchResult{LaunchResult::Kind::NotStarted, -1, run.error.value()};
}

}  // namespace mb::provider
