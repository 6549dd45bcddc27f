// SPDX-License-Identifier: MIT
// Events, as Windows behaves.
#include <gtest/gtest.h>

#include <chrono>

#include "pal/pal_test_support.h"
#include "pal/win32.h"

namespace {

using pal_test::finish;
using pal_test::returnZero;
using pal_test::start;

HANDLE newEvent(BOOL manualReset, BOOL initialState) {
    HANDLE h = CreateEventW(nullptr, manualReset, initialState, nullptr);
    EXPECT_NE(h, nullptr);
    return h;
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    HANDLE event = newEvent(TRUE, FALSE);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(SetEvent(event));  // already set: no change
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    }
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(ResetEvent(event));  // already reset: no change
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));

    HANDLE initiallySet = CreateEventA(nullptr, TRUE, TRUE, "");
    ASSERT_NE(initiallySet, nullptr);
    EXPECT_EQ(WaitForSingleObject(initiallySet, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(initiallySet, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(initiallySet));
}

TEST(Event, AutoResetLetsOneWaitThroughPerSet) {
    HANDLE event = newEvent(FALSE, TRUE);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    // Setting twice with no waiter between leaves one signal, not two.
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Event, WaitOnResetEventTimesOut) {
    HANDLE event = newEvent(TRUE, FALSE);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(40));
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Event, SetAndResetRejectOtherHandles) {
    HANDLE sem = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    ASSERT_NE(sem, nullptr);
    EXPECT_FAILS(SetEvent(sem), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FAILS(ResetEvent(sem), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_TIMEOUT);  // untouched
    EXPECT_TRUE(CloseHandle(sem));
    EXPECT_FAILS(SetEvent(nullptr), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FAILS(ResetEvent(nullptr), FALSE, ERROR_INVALID_HANDLE);

    HANDLE closed = newEvent(TRUE, FALSE);
    ASSERT_TRUE(CloseHandle(closed));
    EXPECT_FAILS(SetEvent(closed), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FAILS(ResetEvent(closed), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FAILS(WaitForSingleObject(closed, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
}

TEST(Event, WaitAnyTakesTheLowestSignalledIndex) {
    HANDLE sem = CreateSemaphoreW(nullptr, 0, 10, nullptr);
    ASSERT_NE(sem, nullptr);
    HANDLE objects[3] = {sem, newEvent(FALSE, FALSE), start(returnZero, nullptr)};
    // Only the thread, once ended.
    EXPECT_EQ(WaitForMultipleObjects(3, objects, FALSE, 20000), WAIT_OBJECT_0 + 2);
    EXPECT_TRUE(SetEvent(objects[1]));
    EXPECT_EQ(WaitForMultipleObjects(3, objects, FALSE, 0), WAIT_OBJECT_0 + 1);
    // The auto-reset event was consumed by that wait: the thread again.
    EXPECT_EQ(WaitForMultipleObjects(3, objects, FALSE, 0), WAIT_OBJECT_0 + 2);
    ASSERT_TRUE(ReleaseSemaphore(sem, 1, nullptr));
    EXPECT_TRUE(SetEvent(objects[1]));
    EXPECT_EQ(WaitForMultipleObjects(3, objects, FALSE, 0), WAIT_OBJECT_0);
    // The event, passed over while the semaphore won, is still set.
    EXPECT_EQ(WaitForMultipleObjects(3, objects, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, objects, FALSE, 0), WAIT_TIMEOUT);
    EXPECT_EQ(finish(objects[2]), 0u);
    EXPECT_TRUE(CloseHandle(objects[0]));
    EXPECT_TRUE(CloseHandle(objects[1]));
}

DWORD WINAPI waitInfinite(LPVOID event) {
    return WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
}

TEST(Event, SetReleasesAThreadWaitingWithoutTimeOut) {
    HANDLE event = newEvent(TRUE, FALSE);
    HANDLE waiter = start(waitInfinite, event);
    EXPECT_EQ(WaitForSingleObject(waiter, 100), WAIT_TIMEOUT);  // still blocked
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(finish(waiter), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
}

struct Gate {
    HANDLE event;
    HANDLE passed;  // a semaphore: one unit per waiter let through
};

DWORD WINAPI passGate(LPVOID p) {
    auto* gate = static_cast<Gate*>(p);
    DWORD result = WaitForSingleObject(gate->event, 20000);
    if (result == WAIT_OBJECT_0) {
        ReleaseSemaphore(gate->passed, 1, nullptr);
    }
    return result;
}

TEST(Event, AutoResetReleasesOneOfTwoWaitersPerSet) {
    Gate gate{newEvent(FALSE, FALSE), CreateSemaphoreW(nullptr, 0, 2, nullptr)};
    ASSERT_NE(gate.passed, nullptr);
    HANDLE waiters[2] = {start(passGate, &gate), start(passGate, &gate)};
    EXPECT_EQ(WaitForSingleObject(gate.passed, 100), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(gate.event));
    EXPECT_EQ(WaitForSingleObject(gate.passed, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(gate.passed, 200), WAIT_TIMEOUT);  // the other still waits
    EXPECT_TRUE(SetEvent(gate.event));
    EXPECT_EQ(WaitForSingleObject(gate.passed, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(finish(waiters[0]), WAIT_OBJECT_0);
    EXPECT_EQ(finish(waiters[1]), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(gate.event, 0), WAIT_TIMEOUT);  // each set was consumed
    EXPECT_TRUE(CloseHandle(gate.event));
    EXPECT_TRUE(CloseHandle(gate.passed));
}

TEST(Event, ManualResetReleasesEveryWaiter) {
    Gate gate{newEvent(TRUE, FALSE), CreateSemaphoreW(nullptr, 0, 2, nullptr)};
    ASSERT_NE(gate.passed, nullptr);
    HANDLE waiters[2] = {start(passGate, &gate), start(passGate, &gate)};
    EXPECT_EQ(WaitForSingleObject(gate.passed, 100), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(gate.event));
    EXPECT_EQ(finish(waiters[0]), WAIT_OBJECT_0);
    EXPECT_EQ(finish(waiters[1]), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(gate.passed, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(gate.passed, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(gate.event, 0), WAIT_OBJECT_0);  // still set
    EXPECT_TRUE(CloseHandle(gate.event));
    EXPECT_TRUE(CloseHandle(gate.passed));
}

#ifndef _WIN32
// Where Windows differs: it has named events.
TEST(EventLayer, NamedEventsAreNotSupported) {
    EXPECT_FAILS(CreateEventA(nullptr, TRUE, FALSE, "ready"), nullptr, ERROR_NOT_SUPPORTED);
    EXPECT_FAILS(CreateEventW(nullptr, FALSE, TRUE, WLIT("ready")), nullptr, ERROR_NOT_SUPPORTED);
    HANDLE unnamed = CreateEventW(nullptr, FALSE, TRUE, WLIT(""));
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(WaitForSingleObject(unnamed, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(unnamed));
}
#endif

}  // namespace
