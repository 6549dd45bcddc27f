// SPDX-License-Identifier: MIT
#include "host/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>

#include "host/host_error.h"

namespace {

TEST(ChildProcess, ReportsExitStatusAndWaitsWithATimeOut) {
    ChildProcess quick = ChildProcess::start("/bin/sh", {"-c", "exit 3"});
    std::optional<int> status = quick.wait(5000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(describeExitStatus(*status), "exit code 3");

    ChildProcess slow = ChildProcess::start("/bin/sleep", {"30"});
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(slow.wait(100).has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_TRUE(slow.kill(SIGTERM));
    status = slow.wait(5000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(describeExitStatus(*status), "signal 15");
}

TEST(ChildProcess, UnrunnableProgramIsAStartFailureWithTheReason) {
    try {
        ChildProcess::start("/nonexistent/program", {});
        FAIL() << "started";
    } catch (const HostError& e) {
        EXPECT_EQ(e.kind(), HostError::Kind::StartFailed);
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }
}

TEST(ChildProcess, EnvironmentOverlayAndOutputFile) {
    char path[] = "/tmp/mb-child-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ChildProcess::Options options;
    options.outputPath = path;
    options.environment = {"MB_CHILD_TEST=overlaid", "HOME=/elsewhere"};
    ChildProcess child = ChildProcess::start(
        "/bin/sh", {"-c", "echo $MB_CHILD_TEST $HOME; echo err >&2; read x; echo [$x]"}, options);
    ASSERT_TRUE(child.wait(5000).has_value());
    std::ifstream in(path);
    std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(text, "overlaid /elsewhere\nerr\n[]\n");
    ::unlink(path);
}

}  // namespace
