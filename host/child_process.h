// SPDX-License-Identifier: MIT
// ChildProcess: a program started with its standard streams detached, which the
// owner can wait for or kill. The destructor kills and reaps a child still running,
// so no zombie outlives its owner. Started by the launcher (base/launcher.h), so it
// holds none of the caller's other descriptors.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "base/launcher.h"

class ChildProcess {
  public:
    struct Options {
        // Where the child's stdout and stderr go; empty means /dev/null.
        std::string outputPath;
        // Extra "NAME=value" entries laid over the inherited environment.
        std::vector<std::string> environment;
    };

    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Runs `path` with `args` (argv[0] is `path`). Throws HostError(StartFailed)
    // with the system's reason when the program cannot be executed.
    static ChildProcess start(const std::string& path, const std::vector<std::string>& args,
                              const Options& options);
    static ChildProcess start(const std::string& path, const std::vector<std::string>& args) {
        return start(path, args, Options{});
    }

    pid_t pid() const;
    bool running();

    // The exit status as waitpid reports it, or nothing when the child is still
    // running after timeoutMs (negative: wait without limit).
    std::optional<int> wait(int timeoutMs);

    // Sends `signal` to a running child; returns whether it was sent.
    bool kill(int signal);
    // Kills a running child and reaps it.
    void terminate();
    // Gives up ownership: the child runs on and is not killed by the destructor.
    void detach();

  private:
    mb::Process process_;
};

// A readable text for a waitpid status: "exit code 3", "signal 9".
std::string describeExitStatus(int status);
