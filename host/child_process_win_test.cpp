// SPDX-License-Identifier: MIT
// ChildProcess on Windows, with cmd.exe and this test program itself as the
// children: exit codes, waits with a time-out, kill, the environment overlay
// and the output file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "base/temp_dir_test_support.h"
#include "host/child_process.h"
#include "host/host_error.h"
#include "pal/win32.h"

namespace {

std::string cmd() {
    char dir[MAX_PATH];
    const UINT n = GetSystemDirectoryA(dir, MAX_PATH);
    return std::string(dir, n) + "\\cmd.exe";
}

std::string self() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n);
}

// Run only as a child by the test below (disabled, so it is no test of its
// own): sleeps as long as the environment asks.
TEST(ChildProcessHelper, DISABLED_SleepsWhenAsked) {
    if (const char* seconds = std::getenv("MB_CHILD_SLEEP")) {
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(seconds)));
    }
}

TEST(ChildProcess, ReportsExitCodeWaitsWithATimeOutAndKills) {
    ChildProcess quick = ChildProcess::start(cmd(), {"/c", "exit 3"});
    std::optional<int> status = quick.wait(20000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(describeExitStatus(*status), "exit code 3");

    ChildProcess::Options options;
    options.environment = {"MB_CHILD_SLEEP=30"};
    ChildProcess slow = ChildProcess::start(
        self(), {"--gtest_also_run_disabled_tests",
                 "--gtest_filter=ChildProcessHelper.DISABLED_SleepsWhenAsked"}, options);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(slow.wait(300).has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_TRUE(slow.running());
    EXPECT_TRUE(slow.kill(15));
    status = slow.wait(20000);
    ASSERT_TRUE(status.has_value());
    // No signals on Windows: TerminateProcess with 128 + the signal's number.
    EXPECT_EQ(describeExitStatus(*status), "exit code 143");
    EXPECT_FALSE(slow.kill(15)) << "nothing left to kill";
}

TEST(ChildProcess, UnrunnableProgramIsAStartFailureWithTheReason) {
    mb::test::TempDir dir("child");
    try {
        ChildProcess::start(dir.path() + "/no-such-program.exe", {});
        FAIL() << "started";
    } catch (const HostError& e) {
        EXPECT_EQ(e.kind(), HostError::Kind::StartFailed);
        EXPECT_NE(std::string(e.what()).find("no-such-program"), std::string::npos) << e.what();
    }
}

TEST(ChildProcess, EnvironmentOverlayArgumentsAndOutputFile) {
    mb::test::TempDir dir("child");
    ChildProcess::Options options;
    options.outputPath = dir.path() + "/out.txt";
    options.environment = {"MB_CHILD_TEST=overlaid", "MB_CHILD_GONE"};
    SetEnvironmentVariableA("MB_CHILD_GONE", "still here");
    ChildProcess child = ChildProcess::start(
        cmd(), {"/c", "echo [%MB_CHILD_TEST%][%MB_CHILD_GONE%]& echo err 1>&2"}, options);
    SetEnvironmentVariableA("MB_CHILD_GONE", nullptr);
    ASSERT_TRUE(child.wait(20000).has_value());
    std::ifstream in(options.outputPath, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    // cmd leaves an unset variable's reference as it stands.
    EXPECT_EQ(text, "[overlaid][%MB_CHILD_GONE%]\r\nerr \r\n");
}

}  // namespace
