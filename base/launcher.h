// SPDX-License-Identifier: MIT
// The one way this code base starts other programs.
//
//   mb::Command command;
//   command.argv = {"pass", "show", "mail"};
//   command.searchPath = true;
//   mb::LineCapture secret = mb::captureFirstLine(command, 4096, std::chrono::seconds(10));
//
// A child gets exactly what the Command says: its argv, its environment, its
// three standard streams, optionally a working directory and a process group
// or session of its own. Every other descriptor of ours stays behind, signal
// mask and dispositions are the defaults (unless it asks to keep what we
// ignore), and its RLIMIT_NOFILE soft limit
// is the one this process started with (whatever we raised or lowered it to
// since is our business, not the child's).
//
// A program that cannot be executed is reported to the caller as an
// errno-style code, never as a child that exits with 127.
//
// Process ids and exit descriptions are plain values here (no pid_t, no
// waitpid status), so that another platform can implement the same header.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/scoped_fd.h"

namespace mb {

using ProcessId = int64_t;

// How a child ended.
struct ExitStatus {
    enum class Kind : uint8_t { Exited, Signalled };
    Kind kind = Kind::Exited;
    int32_t value = 0;  // Exited: the exit code; Signalled: the signal number

    static ExitStatus exited(int32_t code) { return {Kind::Exited, code}; }
    static ExitStatus signalled(int32_t signal) { return {Kind::Signalled, signal}; }

    bool success() const { return kind == Kind::Exited && value == 0; }
    // "exit code 3", "signal 9".
    std::string describe() const;

    bool operator==(const ExitStatus&) const = default;
};

// One of the child's standard streams.
class Stdio {
  public:
    enum class Kind : uint8_t { Inherit, Null, Descriptor, Pipe, SameAsStdout };

    // The parent's own stream of the same number.
    static Stdio inherit() { return Stdio(Kind::Inherit, -1); }
    // /dev/null, opened for reading and writing.
    static Stdio null() { return Stdio(Kind::Null, -1); }
    // A copy of `fd`; the caller keeps (and still owns) `fd` itself.
    static Stdio descriptor(int32_t fd) { return Stdio(Kind::Descriptor, fd); }
    // A pipe whose other end the parent takes from the Process
    // (takeStdin / takeStdout / takeStderr).
    static Stdio pipe() { return Stdio(Kind::Pipe, -1); }
    // Standard error only: wherever standard output goes, the same pipe
    // included.
    static Stdio sameAsStdout() { return Stdio(Kind::SameAsStdout, -1); }

    Kind kind() const { return kind_; }
    int32_t fd() const { return fd_; }

  private:
    Stdio(Kind kind, int32_t fd) : kind_(kind), fd_(fd) {}
    Kind kind_;
    int32_t fd_;
};

struct Command {
    // argv[0] names the program: a path, or with searchPath a bare name looked
    // up on the PATH the child will have (the overlaid one, if the
    // environment sets PATH). A name containing '/' is never searched.
    std::vector<std::string> argv;
    bool searchPath = false;

    // Inherit: our environment with `environment` laid over it ("NAME=value"
    // adds or replaces, a bare "NAME" removes). Replace: exactly `environment`.
    enum class EnvironmentMode : uint8_t { Inherit, Replace };
    EnvironmentMode environmentMode = EnvironmentMode::Inherit;
    std::vector<std::string> environment;

    Stdio stdinMode = Stdio::inherit();
    Stdio stdoutMode = Stdio::inherit();
    Stdio stderrMode = Stdio::inherit();

    // Empty: ours.
    std::string workingDirectory;

    // Own group: the child leads a new process group, so that a time-out can
    // kill it with everything it started. Own session: a new session too,
    // out of our controlling terminal.
    enum class Group : uint8_t { Inherit, OwnGroup, OwnSession };
    Group group = Group::Inherit;

    // The child's signal mask is always empty. Default: every disposition is
    // the default too. KeepIgnored: a signal we ignore stays ignored, as a
    // plain exec leaves it; for a caller that means its child to share that
    // choice (ignoring SIGXFSZ to get EFBIG instead of being killed).
    enum class Signals : uint8_t { Default, KeepIgnored };
    Signals signals = Signals::Default;
};

// A started child, owned: the destructor kills (its group, when it has its
// own) and reaps a child still running, so no zombie outlives its owner.
struct LineCapture;

class Process {
  public:
    static constexpr std::chrono::milliseconds kForever{-1};

    Process() = default;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    // Starts `command`. On failure returns an empty Process and sets `error`
    // to the reason (ENOENT, EACCES, ... from exec, or from preparing it);
    // on success clears `error`.
    static Process start(const Command& command, std::error_code& error);

    bool valid() const { return id_ > 0; }
    ProcessId id() const { return id_; }

    // The parent's ends of the pipes asked for with Stdio::pipe(): the write
    // end of the child's stdin, the read ends of its stdout and stderr.
    // Close-on-exec, blocking.
    ScopedFd takeStdin() { return std::move(stdin_); }
    ScopedFd takeStdout() { return std::move(stdout_); }
    ScopedFd takeStderr() { return std::move(stderr_); }

    // Whether the child has not ended (reaps it if it has).
    bool running();
    // The exit, reaping the child; nothing when it still runs after `timeout`
    // (kForever: no limit). Once reaped, the same answer every time.
    std::optional<ExitStatus> wait(std::chrono::milliseconds timeout);
    std::optional<ExitStatus> exitStatus() const { return status_; }

    // Sends `signal` to a child not yet reaped; whether it was sent.
    bool signal(int32_t signal);
    // The same to the child's whole process group when it has its own,
    // otherwise to the child alone.
    bool signalGroup(int32_t signal);
    // Kills a child not yet reaped (its group, when it has its own) and reaps it.
    void terminate();
    // Gives up ownership: the child runs on, and is neither killed nor reaped
    // by this object.
    void detach();

  private:
    friend LineCapture captureFirstLine(const Command&, std::size_t, std::chrono::milliseconds);

    void closeWaitHandle();

    ProcessId id_ = -1;
    bool ownGroup_ = false;
    int32_t waitHandle_ = -1;  // a descriptor that becomes readable when the child ends
    std::optional<ExitStatus> status_;
    bool lost_ = false;  // reaped by someone else (SIGCHLD ignored): no status to tell
    ScopedFd stdin_, stdout_, stderr_;
};

// captureFirstLine's answer.
struct LineCapture {
    enum class Result : uint8_t {
        Line,        // `line` holds the first line, without its newline
        NotStarted,  // `error` says why
        TooLong,     // more than the cap before the first newline
        TimedOut,    // not done in time; its process group was killed
        Failed,      // it ended with a non-zero code or by a signal: `exit`
        NoOutput,    // it succeeded but printed nothing
    };
    Result result = Result::NotStarted;
    std::string line;
    ExitStatus exit;
    std::error_code error;

    bool ok() const { return result == Result::Line; }
    // Why there is no line, for a message: "exited with exit code 1", ...
    std::string describe() const;
};

// Runs `command` with its standard output a pipe (its other streams as the
// command says) in a process group of its own, and returns the first line it
// prints. Output without a final newline counts as a line; an empty first line
// counts as no output. What it prints after the first line is read and
// dropped. It must also end, with code 0, within `timeout`; otherwise its
// whole group is killed. Either way the child is reaped before the call
// returns. A line longer than `maxLength` bytes is TooLong, and no more than
// that plus one read's worth is ever held.
LineCapture captureFirstLine(const Command& command, std::size_t maxLength,
                             std::chrono::milliseconds timeout);

// runDetached's answer.
struct DetachedRun {
    enum class Result : uint8_t { Exited, StillRunning, NotStarted };
    Result result = Result::NotStarted;
    ExitStatus exit;       // Exited
    std::error_code error;  // NotStarted
};

// Starts `command` so that it is not our child: a short-lived helper process
// starts it and waits for it at most `wait`. A program that ends by then is
// reported with its exit; one still running runs on as an orphan, reaped by
// init, so no zombie or thread of ours outlives the call.
DetachedRun runDetached(const Command& command, std::chrono::milliseconds wait);

// Raises this process's soft RLIMIT_NOFILE to its hard limit, so that many
// connections can be served at once. Children keep getting the soft limit the
// process started with, also those that a library loaded later starts with
// its own copy of this code: the limit travels to it in the environment
// variable kStartFileLimitVariable, which no child inherits. Returns false
// when the limit cannot be read or set. POSIX only.
bool raiseFileLimit() noexcept;
inline constexpr const char* kStartFileLimitVariable = "MAILBROKER_START_NOFILE";

}  // namespace mb
