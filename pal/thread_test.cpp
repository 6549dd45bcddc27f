// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>

#include "pal/pal_test_support.h"
#include "pal/win32.h"

namespace {

using pal_test::exitCodeOf;
using pal_test::finish;
using pal_test::returnZero;

struct Seen {
    LPVOID parameter = nullptr;
    DWORD id = 0;
};

DWORD WINAPI recordSelf(LPVOID p) {
    auto* seen = static_cast<Seen*>(p);
    seen->parameter = p;
    seen->id = GetCurrentThreadId();
    Sleep(10);  // keep the threads alive together
    return 1234;
}

TEST(Thread, RunsRoutineWithParameterAndReportsDistinctIds) {
    constexpr int kThreads = 16;
    Seen seen[kThreads];
    HANDLE threads[kThreads];
    DWORD ids[kThreads] = {};
    for (int i = 0; i < kThreads; ++i) {
        threads[i] = CreateThread(nullptr, 0, recordSelf, &seen[i], 0, &ids[i]);
        ASSERT_NE(threads[i], nullptr);
    }
    std::set<DWORD> distinct{GetCurrentThreadId()};
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(finish(threads[i]), 1234u);
        EXPECT_EQ(seen[i].parameter, &seen[i]);
        EXPECT_NE(ids[i], 0u);
        EXPECT_EQ(seen[i].id, ids[i]);
        distinct.insert(ids[i]);
    }
    EXPECT_EQ(distinct.size(), size_t{kThreads + 1});
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
}

DWORD WINAPI passGate(LPVOID gate) {
    return WaitForSingleObject(static_cast<HANDLE>(gate), 20000) == WAIT_OBJECT_0 ? 77 : 1;
}

TEST(Thread, HandleIsSignalledOnceEndedAndThenForGood) {
    HANDLE gate = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, passGate, gate, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(thread, 30), WAIT_TIMEOUT);
    EXPECT_EQ(exitCodeOf(thread), DWORD(STILL_ACTIVE));

    ASSERT_TRUE(ReleaseSemaphore(gate, 1, nullptr));
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(finish(thread), 77u);
    EXPECT_TRUE(CloseHandle(gate));
}

std::atomic<bool> gRanPastExit{false};

void exitFromNestedCall(DWORD code) {
    ExitThread(code);
}

DWORD WINAPI callExitThread(LPVOID) {
    exitFromNestedCall(42);
    gRanPastExit = true;
    return 5;
}

TEST(Thread, ExitThreadEndsTheThreadWithItsCode) {
    EXPECT_EQ(finish(CreateThread(nullptr, 0, callExitThread, nullptr, 0, nullptr)), 42u);
    EXPECT_FALSE(gRanPastExit);
}

struct Handoff {
    HANDLE gate;
    HANDLE done;
};

DWORD WINAPI passGateThenSignal(LPVOID p) {
    auto* h = static_cast<Handoff*>(p);
    if (WaitForSingleObject(h->gate, 20000) == WAIT_OBJECT_0) {
        ReleaseSemaphore(h->done, 1, nullptr);
    }
    return 0;
}

TEST(Thread, KeepsRunningAfterItsHandleIsClosed) {
    Handoff h{CreateSemaphoreW(nullptr, 0, 1, nullptr), CreateSemaphoreW(nullptr, 0, 1, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, passGateThenSignal, &h, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(CloseHandle(thread));
    DWORD code = 0;
    EXPECT_FAILS(GetExitCodeThread(thread, &code), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FAILS(GetExitCodeThread(h.gate, &code), FALSE, ERROR_INVALID_HANDLE);
    ASSERT_TRUE(ReleaseSemaphore(h.gate, 1, nullptr));
    EXPECT_EQ(WaitForSingleObject(h.done, 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(h.gate));
    EXPECT_TRUE(CloseHandle(h.done));
}

// 12 MiB of stack, more than the default of Windows (1 MiB) or of a Linux thread
// (8 MiB): it only survives if the requested size is honoured.
DWORD deepStack(int depth) {
    volatile unsigned char frame[64 * 1024];
    frame[0] = static_cast<unsigned char>(depth);
    frame[sizeof frame - 1] = 1;
    DWORD below = depth > 1 ? deepStack(depth - 1) : 0;
    return below + frame[0] + frame[sizeof frame - 1];
}

DWORD WINAPI useDeepStack(LPVOID) {
    return deepStack(192) == 192u * 193u / 2 + 192 ? 0 : 1;
}

TEST(Thread, StackSizeIsHonoured) {
    EXPECT_EQ(finish(CreateThread(nullptr, 32 * 1024 * 1024, useDeepStack, nullptr,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)),
              0u);
    // A tiny request is raised to a workable minimum.
    EXPECT_EQ(finish(CreateThread(nullptr, 1, returnZero, nullptr, 0, nullptr)), 0u);
}

TEST(Thread, SleepWaitsAtLeastRoughlyTheTime) {
    auto begin = std::chrono::steady_clock::now();
    Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(25));
    Sleep(0);
    SwitchToThread();  // FALSE on Windows when nothing else was ready, so not checked
}

#ifndef _WIN32
// Where Windows would start the thread (suspended, or to fault at once).
TEST(ThreadLayer, RejectsUnsupportedFlagsAndNullRoutine) {
    EXPECT_FAILS(CreateThread(nullptr, 0, returnZero, nullptr, CREATE_SUSPENDED, nullptr), nullptr,
                 ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(CreateThread(nullptr, 0, returnZero, nullptr, 0x80000000u, nullptr), nullptr,
                 ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr,
                 ERROR_INVALID_PARAMETER);
}
#endif

}  // namespace
