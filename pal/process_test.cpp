// SPDX-License-Identifier: MIT
// Process ids, process handles and the command line, as Windows behaves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pal/pal_test_support.h"
#include "pal/win32.h"

#ifndef _WIN32
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

TEST(Process, CurrentIdIsNonzeroAndStable) {
    DWORD id = GetCurrentProcessId();
    EXPECT_NE(id, 0u);
    EXPECT_EQ(GetCurrentProcessId(), id);
}

TEST(Process, OpenCurrentProcessIsNotSignalled) {
    HANDLE self = OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(WaitForSingleObject(self, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(self, 30), WAIT_TIMEOUT);
    // Not an event, whatever it waits like.
    EXPECT_FAILS(SetEvent(self), FALSE, ERROR_INVALID_HANDLE);

    HANDLE again =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, GetCurrentProcessId());
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, self);
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(CloseHandle(self));
    EXPECT_FAILS(CloseHandle(self), FALSE, ERROR_INVALID_HANDLE);
}

TEST(Process, OpenFailsForIdsThatNameNoProcess) {
    EXPECT_FAILS(OpenProcess(SYNCHRONIZE, FALSE, 0), nullptr, ERROR_INVALID_PARAMETER);
    // Far above any process id either system hands out.
    EXPECT_FAILS(OpenProcess(SYNCHRONIZE, FALSE, 0x7FFFFFF0u), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(OpenProcess(SYNCHRONIZE, FALSE, 0xFFFFFFF0u), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(OpenProcess(SYNCHRONIZE, FALSE, MAXDWORD), nullptr, ERROR_INVALID_PARAMETER);
}

TEST(Process, CommandLineStartsWithTheProgram) {
    LPSTR line = GetCommandLineA();
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(GetCommandLineA(), line);  // one buffer for the process's life
    std::string text = line;
    ASSERT_FALSE(text.empty());
    // Windows keeps the creator's quotes around the program; this layer adds none.
    if (text[0] == '"') {
        text.erase(0, 1);
    }
    std::vector<std::string> argv = ::testing::internal::GetArgvs();
    ASSERT_FALSE(argv.empty());
    EXPECT_EQ(text.compare(0, argv[0].size(), argv[0]), 0) << line << " vs " << argv[0];
}

#ifndef _WIN32
// A child that sleeps for the given time, then exits with code 7.
pid_t spawnSleeper(long milliseconds) {
    pid_t pid = fork();
    if (pid == 0) {
        timespec pause{milliseconds / 1000, milliseconds % 1000 * 1000000L};
        while (nanosleep(&pause, &pause) != 0) {
        }
        _exit(7);
    }
    return pid;
}

int reap(pid_t pid) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProcessLayer, CurrentIdIsTheSystemsId) {
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

TEST(ProcessLayer, HandleIsSignalledWhenTheProcessEnds) {
    pid_t child = spawnSleeper(200);
    ASSERT_GT(child, 0);
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child));
    EXPECT_NE(h, nullptr);
    if (h != nullptr) {
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
        EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    }
    EXPECT_EQ(reap(child), 7);
    if (h != nullptr) {
        // Signalled for good, also once the process is gone entirely.
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(CloseHandle(h));
    }
    // The id now names no process (ids are not reused this soon).
    EXPECT_FAILS(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child)), nullptr,
                 ERROR_INVALID_PARAMETER);
}

TEST(ProcessLayer, EndedButUnreapedProcessOpensSignalled) {
    pid_t child = spawnSleeper(0);
    ASSERT_GT(child, 0);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child));
    EXPECT_NE(h, nullptr);
    if (h != nullptr) {
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(CloseHandle(h));
    }
    EXPECT_EQ(reap(child), 7);
}

TEST(ProcessLayer, WaitAnyReportsTheProcessEndingFirst) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    pid_t child = spawnSleeper(100);
    ASSERT_GT(child, 0);
    HANDLE objects[2] = {event, OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child))};
    EXPECT_NE(objects[1], nullptr);
    if (objects[1] != nullptr) {
        EXPECT_EQ(WaitForMultipleObjects(2, objects, FALSE, 5000), WAIT_OBJECT_0 + 1);
        EXPECT_TRUE(SetEvent(event));
        EXPECT_EQ(WaitForMultipleObjects(2, objects, FALSE, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(CloseHandle(objects[1]));
    }
    EXPECT_EQ(reap(child), 7);
    EXPECT_TRUE(CloseHandle(event));
}

struct KernelThread {
    pid_t tid = 0;
    HANDLE started;
    HANDLE release;
};

DWORD WINAPI holdKernelThread(LPVOID p) {
    auto* t = static_cast<KernelThread*>(p);
    t->tid = static_cast<pid_t>(syscall(SYS_gettid));
    SetEvent(t->started);
    return WaitForSingleObject(t->release, 20000);
}

// As on Windows, the id of a running thread does not open a process.
TEST(ProcessLayer, ThreadIdIsNoProcessId) {
    KernelThread t{0, CreateEventW(nullptr, TRUE, FALSE, nullptr),
                   CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ASSERT_NE(t.started, nullptr);
    ASSERT_NE(t.release, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, holdKernelThread, &t, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(t.started, 20000), WAIT_OBJECT_0);
    EXPECT_GT(t.tid, 0);
    EXPECT_NE(t.tid, getpid());
    EXPECT_FAILS(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(t.tid)), nullptr,
                 ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(SetEvent(t.release));
    EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(t.started));
    EXPECT_TRUE(CloseHandle(t.release));
}

TEST(ProcessLayer, CommandLineIsTheArgumentsJoinedByBlanks) {
    // GoogleTest keeps the arguments as main received them, options included.
    std::vector<std::string> argv = ::testing::internal::GetArgvs();
    std::string joined;
    for (size_t i = 0; i < argv.size(); ++i) {
        joined += (i == 0 ? "" : " ") + argv[i];
    }
    EXPECT_EQ(std::string(GetCommandLineA()), joined);
}
#endif

}  // namespace
