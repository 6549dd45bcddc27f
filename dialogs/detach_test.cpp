// SPDX-License-Identifier: MIT
#include "dialogs/detach.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "dialogs/stdio_line.h"

namespace mb::dialogs {
namespace {

// Runs runDetached with stdout caught in a pipe; returns its result and what
// reached stdout by the time the caller's end is read dry.
struct Captured {
    int result = -2;
    std::string out;
};

Captured runCaptured(const std::function<int(DetachedChild&)>& body, const std::string& lost) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    int savedOut = ::dup(STDOUT_FILENO);
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[1]);
    Captured c;
    c.result = runDetached(body, lost);
    ::dup2(savedOut, STDOUT_FILENO);
    ::close(savedOut);
    char buf[256];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) {
        c.out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    return c;
}

// A pipe for the child to report on, and one the test releases it with.
struct Channel {
    int fds[2] = {-1, -1};
    Channel() { EXPECT_EQ(::pipe(fds), 0); }
    ~Channel() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
};

TEST(RunDetached, TheParentEndsOnceShownWhileTheChildRunsOnInItsOwnSession) {
    Channel report, release;
    Captured c = runCaptured(
        [&](DetachedChild& child) {
            child.shown("{\"event\":\"shown\"}\n");
            child.shown("{\"event\":\"shown\"}\n");  // a second call says nothing
            long ids[2] = {static_cast<long>(::getpid()), static_cast<long>(::getsid(0))};
            writeAll(report.fds[1], std::string_view(reinterpret_cast<char*>(ids), sizeof ids));
            char go;
            if (::read(release.fds[0], &go, 1) != 1) {
                return 9;
            }
            // stdout is /dev/null by now: this reaches nobody.
            writeAll(STDOUT_FILENO, "late\n");
            return 0;
        },
        "lost\n");
    EXPECT_EQ(c.result, 0);

    long ids[2] = {0, 0};
    ASSERT_EQ(::read(report.fds[0], ids, sizeof ids), static_cast<ssize_t>(sizeof ids));
    EXPECT_EQ(ids[1], ids[0]) << "the child leads a session of its own";
    EXPECT_NE(ids[1], static_cast<long>(::getsid(0)));

    ASSERT_EQ(::write(release.fds[1], "g", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(static_cast<pid_t>(ids[0]), &status, 0), static_cast<pid_t>(ids[0]));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(c.out, "{\"event\":\"shown\"}\n");
}

TEST(RunDetached, AChildThatAnswersItselfAndEndsMakesTheParentFailQuietly) {
    Captured c = runCaptured(
        [](DetachedChild& child) {
            writeAll(STDOUT_FILENO, "{\"result\":\"error\",\"message\":\"no display\"}\n");
            child.answered();
            return 1;
        },
        "lost\n");
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.out, "{\"result\":\"error\",\"message\":\"no display\"}\n");
}

TEST(RunDetached, AChildThatDiesSilentlyGetsAResultLineFromTheParent) {
    Captured c = runCaptured(
        [](DetachedChild&) {
            std::raise(SIGKILL);
            return 0;
        },
        "{\"result\":\"error\",\"message\":\"lost\"}\n");
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.out, "{\"result\":\"error\",\"message\":\"lost\"}\n");
}

TEST(RunDetached, AChildThatEndsNormallyWithoutAWordCountsAsLostToo) {
    Captured c = runCaptured([](DetachedChild&) { return 0; }, "lost\n");
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.out, "lost\n");
}

}  // namespace
}  // namespace mb::dialogs
