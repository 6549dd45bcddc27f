// SPDX-License-Identifier: MIT
#include "base/launcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/temp_dir_test_support.h"

namespace mb {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// Standard error goes to /dev/null: a process a test leaves behind must not
// hold the test's own output open (the test runner waits for it to close).
Command shell(const std::string& script) {
    Command command;
    command.argv = {"/bin/sh", "-c", script};
    command.stderrMode = Stdio::null();
    return command;
}

void writeFile(const std::string& path, const std::string& text, mode_t mode) {
    std::ofstream(path) << text;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Everything `fd` delivers until end of file; gives up after 30 s so that a
// fault shows as a failure, not a hung test.
std::string readAll(int fd) {
    std::string text;
    const auto deadline = Clock::now() + seconds(30);
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            return text;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    ADD_FAILURE() << "no end of file within 30 s";
    return text;
}

std::string readLine(int fd) {
    std::string line;
    const auto deadline = Clock::now() + seconds(30);
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) {
            continue;
        }
        char c;
        if (::read(fd, &c, 1) != 1 || c == '\n') {
            return line;
        }
        line += c;
    }
    ADD_FAILURE() << "no line within 30 s";
    return line;
}

// Runs `command` with its standard output a pipe; the output and the exit.
struct Output {
    std::string text;
    std::optional<ExitStatus> exit;
};
Output run(Command command) {
    command.stdoutMode = Stdio::pipe();
    std::error_code error;
    Process process = Process::start(command, error);
    EXPECT_FALSE(error) << error.message();
    ScopedFd out = process.takeStdout();
    Output result;
    if (out) {
        result.text = readAll(out.get());
    }
    result.exit = process.wait(seconds(30));
    return result;
}

// Whether `pid` has ended: gone, or a zombie waiting for init to reap it.
// Looks for up to 30 s, since a killed process takes a moment to go.
bool endsSoon(pid_t pid) {
    const auto deadline = Clock::now() + seconds(30);
    while (Clock::now() < deadline) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        if (!std::getline(stat, text)) {
            return true;
        }
        const size_t paren = text.rfind(')');
        if (paren != std::string::npos && paren + 2 < text.size() &&
            (text[paren + 2] == 'Z' || text[paren + 2] == 'X')) {
            return true;
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
}

// The process id a command wrote to `path`, waiting up to 30 s for it.
pid_t pidFrom(const std::string& path) {
    const auto deadline = Clock::now() + seconds(30);
    while (Clock::now() < deadline) {
        const std::string text = readFile(path);
        if (!text.empty() && text.back() == '\n') {
            return std::atoi(text.c_str());
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    return -1;
}

// No child of this process is left, running or a zombie.
bool noChildren() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

TEST(Launcher, AProgramThatCannotBeRunIsAnErrorNotAChild) {
    std::error_code error;
    Command missing;
    missing.argv = {"/nonexistent/program"};
    Process process = Process::start(missing, error);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory) << error.message();
    EXPECT_FALSE(process.valid());

    missing.argv = {"mb-no-such-program-anywhere"};
    missing.searchPath = true;
    Process::start(missing, error);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory) << error.message();

    test::TempDir dir("launcher");
    writeFile(dir.path() + "/plain", "#!/bin/sh\nexit 0\n", 0644);
    Command notExecutable;
    notExecutable.argv = {dir.path() + "/plain"};
    Process::start(notExecutable, error);
    EXPECT_EQ(error, std::errc::permission_denied) << error.message();
    EXPECT_TRUE(noChildren());
}

TEST(Launcher, BadRequestsAreRefusedBeforeAnythingRuns) {
    std::error_code error;
    EXPECT_FALSE(Process::start(Command{}, error).valid());
    EXPECT_EQ(error, std::errc::invalid_argument);

    Command command = shell("exit 0");
    command.stdinMode = Stdio::descriptor(-1);
    EXPECT_FALSE(Process::start(command, error).valid());
    EXPECT_EQ(error, std::errc::bad_file_descriptor);

    command.stdinMode = Stdio::sameAsStdout();
    EXPECT_FALSE(Process::start(command, error).valid());
    EXPECT_EQ(error, std::errc::invalid_argument);

    command = shell("exit 0");
    command.workingDirectory = "/nonexistent/directory";
    EXPECT_FALSE(Process::start(command, error).valid());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);

    command = shell("exit 0");
    command.stdoutMode = Stdio::pipe();
    EXPECT_EQ(runDetached(command, milliseconds(100)).error, std::errc::invalid_argument);
    EXPECT_TRUE(noChildren());
}

TEST(Launcher, ExitCodeAndSignalAreReported) {
    std::error_code error;
    Process exited = Process::start(shell("exit 3"), error);
    ASSERT_FALSE(error);
    std::optional<ExitStatus> status = exited.wait(seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, ExitStatus::exited(3));
    EXPECT_EQ(status->describe(), "exit code 3");
    EXPECT_FALSE(exited.running());
    EXPECT_EQ(exited.wait(milliseconds(0)), status);  // the same answer again

    Process killed = Process::start(shell("kill -TERM $$; sleep 30"), error);
    ASSERT_FALSE(error);
    status = killed.wait(seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, ExitStatus::signalled(SIGTERM));
    EXPECT_EQ(status->describe(), "signal 15");
}

TEST(Launcher, EnvironmentIsInheritedOverlaidOrReplaced) {
    ASSERT_EQ(::setenv("MB_LAUNCHER_KEPT", "kept", 1), 0);
    ASSERT_EQ(::setenv("MB_LAUNCHER_GONE", "there", 1), 0);
    Command command = shell("echo \"$MB_LAUNCHER_KEPT:$MB_LAUNCHER_NEW:${MB_LAUNCHER_GONE-unset}\"");
    command.environment = {"MB_LAUNCHER_NEW=new=value", "MB_LAUNCHER_GONE"};
    EXPECT_EQ(run(command).text, "kept:new=value:unset\n");

    command.environment = {"MB_LAUNCHER_KEPT=overridden"};
    EXPECT_EQ(run(command).text, "overridden::there\n");

    Command replaced;
    replaced.argv = {"/usr/bin/env"};
    replaced.environmentMode = Command::EnvironmentMode::Replace;
    replaced.environment = {"ONLY=this", "AND=that"};
    EXPECT_EQ(run(replaced).text, "ONLY=this\nAND=that\n");
    ::unsetenv("MB_LAUNCHER_KEPT");
    ::unsetenv("MB_LAUNCHER_GONE");
}

TEST(Launcher, ABareNameIsSearchedOnTheChildsPath) {
    test::TempDir first("launcher"), second("launcher");
    writeFile(first.path() + "/mbtool", "#!/bin/sh\necho wrong\n", 0644);  // not executable
    writeFile(second.path() + "/mbtool", "#!/bin/sh\necho \"found $1\"\n", 0755);
    Command command;
    command.argv = {"mbtool", "it"};
    command.searchPath = true;
    command.environment = {"PATH=" + first.path() + ":" + second.path()};
    const Output output = run(command);
    EXPECT_EQ(output.text, "found it\n");
    EXPECT_EQ(output.exit, ExitStatus::exited(0));

    command.searchPath = false;  // then the name is a path relative to the working directory
    std::error_code error;
    Process::start(command, error);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

TEST(Launcher, WorkingDirectoryIsTheOneAsked) {
    test::TempDir dir("launcher");
    Command command;
    command.argv = {"/bin/pwd", "-P"};
    command.workingDirectory = dir.path();
    char resolved[PATH_MAX];
    ASSERT_NE(::realpath(dir.path().c_str(), resolved), nullptr);
    EXPECT_EQ(run(command).text, std::string(resolved) + "\n");
}

TEST(Launcher, OnlyTheStandardStreamsAreInherited) {
    // A descriptor of ours without close-on-exec, the kind a careless library
    // leaves, high up where nothing of the child's own would land.
    const int leaked = ::fcntl(STDERR_FILENO, F_DUPFD, 100);
    ASSERT_GE(leaked, 100);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);

    Command command;
    command.argv = {"/bin/ls", "-1", "/proc/self/fd"};
    command.stdinMode = Stdio::null();
    command.stderrMode = Stdio::null();
    // 0, 1 and 2, and the descriptor ls reads the directory through.
    EXPECT_EQ(run(command).text, "0\n1\n2\n3\n");

    Command probe = shell("test -e /proc/self/fd/" + std::to_string(leaked) + " && echo open || echo closed");
    EXPECT_EQ(run(probe).text, "closed\n");
    ::close(leaked);
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST(Launcher, StreamsGoWhereTheCommandSays) {
    test::TempDir dir("launcher");
    const std::string path = dir.path() + "/out";
    ScopedFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ASSERT_TRUE(file);
    Command command = shell("echo out; echo err >&2; read x; echo \"[$x]\"");
    command.stdinMode = Stdio::null();
    command.stdoutMode = Stdio::descriptor(file.get());
    command.stderrMode = Stdio::sameAsStdout();
    std::error_code error;
    Process process = Process::start(command, error);
    ASSERT_FALSE(error);
    ASSERT_EQ(process.wait(seconds(30)), ExitStatus::exited(0));
    EXPECT_EQ(readFile(path), "out\nerr\n[]\n");

    // Standard error into the same pipe as standard output.
    Command pipes = shell("echo to-out; echo to-err >&2");
    pipes.stdoutMode = Stdio::pipe();
    pipes.stderrMode = Stdio::sameAsStdout();
    const Output both = run(pipes);
    EXPECT_EQ(both.text, "to-out\nto-err\n");
}

TEST(Launcher, LowStandardStreamsCanBeGivenAndSwapped) {
    // In a child of ours whose 1 and 2 are two different files, a grandchild
    // started with stdout = our 2 and stderr = our 1 must see them swapped.
    // Runs in a forked copy of the test so that the test's own streams stay.
    test::TempDir dir("launcher");
    const std::string outPath = dir.path() + "/one", errPath = dir.path() + "/two";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int one = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int two = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (one < 0 || two < 0 || ::dup2(one, 1) < 0 || ::dup2(two, 2) < 0) {
            ::_exit(2);
        }
        Command command = shell("echo to-stdout; echo to-stderr >&2");
        command.stdoutMode = Stdio::descriptor(2);
        command.stderrMode = Stdio::descriptor(1);
        std::error_code error;
        Process process = Process::start(command, error);
        const bool ok = !error && process.wait(seconds(30)) == ExitStatus::exited(0);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(outPath), "to-stderr\n");
    EXPECT_EQ(readFile(errPath), "to-stdout\n");
}

TEST(Launcher, SignalMaskAndDispositionsAreTheDefaults) {
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, &old), 0);
    struct sigaction ignore {}, oldInt {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGINT, &ignore, &oldInt), 0);

    Command command;
    command.argv = {"/bin/grep", "-E", "^Sig(Blk|Ign):", "/proc/self/status"};
    const std::string text = run(command).text;
    command.signals = Command::Signals::KeepIgnored;
    const std::string keeping = run(command).text;

    ::sigaction(SIGINT, &oldInt, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    EXPECT_EQ(text, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    // SIGINT (2) is bit 1; the mask is empty either way.
    EXPECT_EQ(keeping, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000002\n");
}

TEST(Launcher, TwoWayPipesToAChildThatStaysRunning) {
    Command command = shell("while read -r line; do echo \"{\\\"echo\\\":$line}\"; done; echo bye");
    command.stdinMode = Stdio::pipe();
    command.stdoutMode = Stdio::pipe();
    std::error_code error;
    Process process = Process::start(command, error);
    ASSERT_FALSE(error);
    ScopedFd toChild = process.takeStdin();
    ScopedFd fromChild = process.takeStdout();
    ASSERT_TRUE(toChild);
    ASSERT_TRUE(fromChild);
    for (const std::string request : {"{\"n\":1}", "{\"n\":2}"}) {
        const std::string line = request + "\n";
        ASSERT_EQ(::write(toChild.get(), line.data(), line.size()), static_cast<ssize_t>(line.size()));
        EXPECT_EQ(readLine(fromChild.get()), "{\"echo\":" + request + "}");
        EXPECT_TRUE(process.running());
    }
    toChild.reset();  // end of input: the child says goodbye and ends
    EXPECT_EQ(readLine(fromChild.get()), "bye");
    EXPECT_EQ(process.wait(seconds(30)), ExitStatus::exited(0));
}

TEST(Launcher, WaitTimesOutAndTerminateKillsTheWholeGroup) {
    Command command = shell("sleep 300 & echo $!; wait");
    command.stdoutMode = Stdio::pipe();
    command.group = Command::Group::OwnGroup;
    std::error_code error;
    Process process = Process::start(command, error);
    ASSERT_FALSE(error);
    ScopedFd out = process.takeStdout();
    const pid_t grandchild = std::atoi(readLine(out.get()).c_str());
    ASSERT_GT(grandchild, 1);
    const pid_t child = static_cast<pid_t>(process.id());

    EXPECT_FALSE(process.wait(milliseconds(50)).has_value());
    EXPECT_TRUE(process.running());
    process.terminate();
    EXPECT_EQ(process.exitStatus(), ExitStatus::signalled(SIGKILL));
    EXPECT_TRUE(endsSoon(grandchild));
    EXPECT_EQ(::waitpid(child, nullptr, WNOHANG), -1);  // already reaped
    EXPECT_FALSE(process.signal(SIGTERM));             // nothing left to signal
}

TEST(Launcher, TheOwnerReapsItsChildWhenItGoes) {
    std::error_code error;
    {
        Command sleeper;
        sleeper.argv = {"/bin/sleep", "300"};  // no shell, which might fork it and go
        sleeper.stdoutMode = Stdio::null();
        sleeper.stderrMode = Stdio::null();
        Process process = Process::start(sleeper, error);
        ASSERT_FALSE(error);
        EXPECT_TRUE(process.running());
        Process moved = std::move(process);
        EXPECT_FALSE(process.valid());
        EXPECT_TRUE(moved.running());
    }
    EXPECT_TRUE(noChildren());
}

TEST(Launcher, ChildrenGetTheFileLimitThisProcessStartedWith) {
    rlimit start{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &start), 0);
    const auto shown = [] {
        Command command = shell("ulimit -n");
        const LineCapture capture = captureFirstLine(command, 64, seconds(30));
        EXPECT_TRUE(capture.ok()) << capture.describe();
        return capture.line;
    };
    const std::string expected =
        start.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(start.rlim_cur);
    EXPECT_EQ(shown(), expected);

    rlimit changed = start;
    changed.rlim_cur = std::max<rlim_t>(64, std::min<rlim_t>(start.rlim_cur, 4096) / 2);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &changed), 0);
    const std::string afterLowering = shown();
    if (start.rlim_cur < start.rlim_max) {
        changed.rlim_cur = start.rlim_max == RLIM_INFINITY ? start.rlim_cur * 2
                                                           : std::min(start.rlim_max, start.rlim_cur * 2);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &changed), 0);
    }
    const std::string afterRaising = shown();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &start), 0);
    EXPECT_EQ(afterLowering, expected);
    EXPECT_EQ(afterRaising, expected);
}

// The raised limit is this process's own: a child still starts with the limit
// the process started with, and the note of it in the environment stays here.
TEST(Launcher, RaisedFileLimitIsNotPassedOn) {
    rlimit start{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &start), 0);
    ASSERT_EQ(::getenv(kStartFileLimitVariable), nullptr);
    ASSERT_TRUE(raiseFileLimit());
    rlimit raised{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &raised), 0);
    const char* note = ::getenv(kStartFileLimitVariable);
    const std::string noted = note != nullptr ? note : "<unset>";
    const LineCapture capture = captureFirstLine(
        shell("echo \"$(ulimit -n) ${MAILBROKER_START_NOFILE:-unset}\""), 64, seconds(30));
    ::unsetenv(kStartFileLimitVariable);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &start), 0);
    EXPECT_EQ(raised.rlim_cur, raised.rlim_max);
    EXPECT_EQ(noted, std::to_string(start.rlim_cur));
    ASSERT_TRUE(capture.ok()) << capture.describe();
    const std::string limit =
        start.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(start.rlim_cur);
    EXPECT_EQ(capture.line, limit + " unset");
}

TEST(Launcher, FirstLineIsReturnedWithoutItsNewline) {
    LineCapture capture = captureFirstLine(shell("printf 'secret\\nmore\\n'"), 64, seconds(30));
    EXPECT_EQ(capture.result, LineCapture::Result::Line) << capture.describe();
    EXPECT_EQ(capture.line, "secret");

    capture = captureFirstLine(shell("printf 'no newline'"), 64, seconds(30));
    EXPECT_EQ(capture.result, LineCapture::Result::Line) << capture.describe();
    EXPECT_EQ(capture.line, "no newline");

    // Much more after the line than a pipe holds: read and dropped, so the
    // command can finish.
    capture = captureFirstLine(shell("echo first; head -c 1000000 /dev/zero"), 64, seconds(30));
    EXPECT_EQ(capture.result, LineCapture::Result::Line) << capture.describe();
    EXPECT_EQ(capture.line, "first");

    // Standard error goes where the command says, not into the line.
    test::TempDir dir("launcher");
    const std::string errPath = dir.path() + "/err";
    ScopedFd err(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ASSERT_TRUE(err);
    Command withStderr = shell("echo diagnostics >&2; echo token");
    withStderr.stderrMode = Stdio::descriptor(err.get());
    capture = captureFirstLine(withStderr, 64, seconds(30));
    EXPECT_EQ(capture.line, "token");
    EXPECT_EQ(readFile(errPath), "diagnostics\n");
    EXPECT_TRUE(noChildren());
}

TEST(Launcher, FirstLineLongerThanTheCapIsRefused) {
    LineCapture capture = captureFirstLine(shell("echo 12345678"), 8, seconds(30));
    EXPECT_EQ(capture.result, LineCapture::Result::Line) << capture.describe();
    EXPECT_EQ(capture.line, "12345678");

    capture = captureFirstLine(shell("echo 123456789"), 8, seconds(30));
    EXPECT_EQ(capture.result, LineCapture::Result::TooLong) << capture.describe();
    EXPECT_EQ(capture.line, "");

    // Endless output without a newline: refused once past the cap, and the
    // writer killed rather than waited for.
    capture = captureFirstLine(shell("exec cat /dev/zero"), 1000, seconds(300));
    EXPECT_EQ(capture.result, LineCapture::Result::TooLong) << capture.describe();
    EXPECT_TRUE(noChildren());
}

TEST(Launcher, FirstLineFailuresSayWhat) {
    LineCapture capture = captureFirstLine(shell("echo partial; exit 2"), 64, seconds(30));
    EXPECT_EQ(capture.result, LineCapture::Result::Failed);
    EXPECT_EQ(capture.exit, ExitStatus::exited(2));
    EXPECT_EQ(capture.line, "");
    EXPECT_EQ(capture.describe(), "ended with exit code 2");

    capture = captureFirstLine(shell("kill -KILL $$"), 64, seconds(30));
    EXPECT_EQ(capture.result, LineCapture::Result::Failed);
    EXPECT_EQ(capture.exit, ExitStatus::signalled(SIGKILL));

    EXPECT_EQ(captureFirstLine(shell("true"), 64, seconds(30)).result,
              LineCapture::Result::NoOutput);
    EXPECT_EQ(captureFirstLine(shell("echo"), 64, seconds(30)).result,
              LineCapture::Result::NoOutput);

    Command missing;
    missing.argv = {"/nonexistent/pass"};
    capture = captureFirstLine(missing, 64, seconds(30));
    EXPECT_EQ(capture.result, LineCapture::Result::NotStarted);
    EXPECT_EQ(capture.error, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(noChildren());
}

TEST(Launcher, FirstLineTimeOutKillsTheGroupAndReturns) {
    test::TempDir dir("launcher");
    const std::string pidFile = dir.path() + "/pid";
    // A command stuck with a grandchild that holds the pipe open too.
    Command command = shell("sleep 300 & echo $! > " + pidFile + "; wait");
    const auto start = Clock::now();
    LineCapture capture = captureFirstLine(command, 64, seconds(2));
    // sleep 300 would take five minutes; anything well short shows the kill.
    EXPECT_LT(Clock::now() - start, seconds(120));
    EXPECT_EQ(capture.result, LineCapture::Result::TimedOut) << capture.describe();
    const pid_t grandchild = pidFrom(pidFile);
    ASSERT_GT(grandchild, 1);
    EXPECT_TRUE(endsSoon(grandchild));
    EXPECT_TRUE(noChildren());

    // A line, then an end that leaves a grandchild holding the pipe: the
    // answer comes when the command ends, not when the pipe closes.
    const std::string leftoverFile = dir.path() + "/leftover";
    command = shell("echo ready; sleep 300 & echo $! > " + leftoverFile);
    capture = captureFirstLine(command, 64, seconds(120));
    EXPECT_EQ(capture.result, LineCapture::Result::Line) << capture.describe();
    EXPECT_EQ(capture.line, "ready");
    const pid_t leftover = pidFrom(leftoverFile);
    ASSERT_GT(leftover, 1);
    ::kill(leftover, SIGKILL);
}

TEST(Launcher, DetachedRunReportsAQuickExit) {
    DetachedRun run = runDetached(shell("exit 3"), seconds(30));
    EXPECT_EQ(run.result, DetachedRun::Result::Exited);
    EXPECT_EQ(run.exit, ExitStatus::exited(3));

    Command missing;
    missing.argv = {"/nonexistent/program"};
    run = runDetached(missing, seconds(30));
    EXPECT_EQ(run.result, DetachedRun::Result::NotStarted);
    EXPECT_EQ(run.error, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(noChildren());
}

TEST(Launcher, DetachedRunLeavesALongProgramRunningAndNoChildOfOurs) {
    test::TempDir dir("launcher");
    const std::string pidFile = dir.path() + "/pid";
    Command command = shell("echo $$ > " + pidFile + "; exec sleep 300");
    command.stdoutMode = Stdio::null();
    command.group = Command::Group::OwnSession;
    const DetachedRun run = runDetached(command, milliseconds(300));
    EXPECT_EQ(run.result, DetachedRun::Result::StillRunning);
    EXPECT_TRUE(noChildren());
    const pid_t program = pidFrom(pidFile);
    ASSERT_GT(program, 1);
    EXPECT_EQ(::kill(program, 0), 0);
    EXPECT_EQ(::getsid(program), program);  // a session of its own
    ::kill(program, SIGKILL);
}

}  // namespace
}  // namespace mb
