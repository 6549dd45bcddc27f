// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "foundation/ks_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t microsecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

// A test still running after a minute is ended by SIGALRM rather than left to
// hang the run: a thread that never ends cannot be joined or reclaimed.
class KsThreadTest : public ::testing::Test {
  protected:
#ifndef _WIN32
    void SetUp() override {
        alarm(60);
    }
    void TearDown() override {
        alarm(0);
    }
#endif
};

// Held at a gate until the test opens it, then records where it ran.
class GatedThread : public KsThread {
  public:
    GatedThread() { gate.create(0, 1, ""); }
    void run() override {
        gate.wait(10000);  // bounded, so the thread ends even if never let through
        Sleep(50);         // long enough that a join that did not wait sees no result
        runThreadId = GetCurrentThreadId();
        finished = 1;
    }
    KsSemaphore gate;
    std::atomic<DWORD> runThreadId{0};
    std::atomic<int32_t> finished{0};
};

// Counts its runs and reports its destruction.
class Target : public KsRunnable {
  public:
    explicit Target(std::atomic<int32_t>* destroyed) : destroyed_(destroyed) {}
    ~Target() override {
        if (destroyed_ != nullptr) {
            *destroyed_ = 1;
        }
    }
    void run() override { ++runs; }
    std::atomic<int32_t> runs{0};

  private:
    std::atomic<int32_t>* destroyed_;
};

TEST_F(KsThreadTest, JoinWithoutStartReturns) {
    KsThread never;
    EXPECT_NO_THROW(never.join());
    EXPECT_NO_THROW(never.join());
}

TEST_F(KsThreadTest, RunExecutesOnItsOwnThreadAndJoinWaitsForIt) {
    GatedThread thread;
    ASSERT_NE(thread.gate.handle(), nullptr);
    thread.start();
    EXPECT_EQ(thread.finished.load(), 0);
    ASSERT_TRUE(thread.gate.release());
    thread.join();
    EXPECT_EQ(thread.finished.load(), 1);
    EXPECT_NE(thread.runThreadId.load(), 0u);
    EXPECT_NE(thread.runThreadId.load(), GetCurrentThreadId());
    EXPECT_NO_THROW(thread.join());  // already joined: returns at once
}

TEST_F(KsThreadTest, HasEndedOnlyOnceRunHasReturned) {
    GatedThread thread;
    EXPECT_TRUE(thread.hasEnded());  // never started: a join would not wait
    thread.start();
    EXPECT_FALSE(thread.hasEnded());
    ASSERT_TRUE(thread.gate.release());
    while (!thread.hasEnded()) {
        Sleep(1);
    }
    EXPECT_EQ(thread.finished.load(), 1);
    thread.join();
    EXPECT_TRUE(thread.hasEnded());
}

TEST_F(KsThreadTest, ForwardsRunToItsTargetOncePerStart) {
    Target target(nullptr);
    KsThread thread(&target, 0);
    thread.start();
    thread.start();  // started and not yet joined: does nothing
    thread.join();
    EXPECT_EQ(target.runs.load(), 1);
    thread.start();  // joined: may start again
    thread.join();
    EXPECT_EQ(target.runs.load(), 2);
}

TEST_F(KsThreadTest, DeletesTheTargetOnlyWhenItOwnsIt) {
    std::atomic<int32_t> ownedDestroyed{0};
    { KsThread owner(new Target(&ownedDestroyed), 1); }
    EXPECT_EQ(ownedDestroyed.load(), 1);

    std::atomic<int32_t> borrowedDestroyed{0};
    Target borrowed(&borrowedDestroyed);
    { KsThread user(&borrowed, 0); }
    EXPECT_EQ(borrowedDestroyed.load(), 0);
}

TEST_F(KsThreadTest, RequestStopSetsTheThreadsOwnFlagNotTheTargets) {
    Target target(nullptr);
    KsThread thread(&target, 0);
    EXPECT_EQ(thread.isStopRequested(), 0);
    thread.requestStop();
    EXPECT_EQ(thread.isStopRequested(), 1);
    EXPECT_EQ(target.isStopRequested(), 0);
}

TEST_F(KsThreadTest, RunningThreadSeesAStopRequest) {
    class Poller : public KsThread {
      public:
        void run() override {
            for (int i = 0; i < 10000 && isStopRequested() == 0; ++i) {
                Sleep(1);
            }
            sawStop = isStopRequested();
        }
        std::atomic<int32_t> sawStop{0};
    } poller;
    poller.start();
    poller.requestStop();
    poller.join();
    EXPECT_EQ(poller.sawStop.load(), 1);
}

#ifdef __linux__
// A thread that sleeps blocks, which the kernel counts as a voluntary context
// switch; one that yields stays runnable. Counting switches instead of
// timing keeps the test true on a loaded machine.
TEST_F(KsThreadTest, SleepUnderAMillisecondOnlyYields) {
    rusage before{};
    ASSERT_EQ(getrusage(RUSAGE_THREAD, &before), 0);
    for (int i = 0; i < 500; ++i) {
        ks::sleep(999);
    }
    rusage after{};
    ASSERT_EQ(getrusage(RUSAGE_THREAD, &after), 0);
    EXPECT_LT(after.ru_nvcsw - before.ru_nvcsw, 50);
}
#endif

TEST_F(KsThreadTest, SleepOfAMillisecondOrMoreSleeps) {
    const Clock::time_point start = Clock::now();
    ks::sleep(1000);
    ks::sleep(20999);
    EXPECT_GE(microsecondsSince(start), 21000);
}

TEST_F(KsThreadTest, NegativeSleepReturns) {
    const Clock::time_point start = Clock::now();
    ks::sleep(-1);
    ks::sleep(-2000000);
    ks::sleep(INT64_MIN);
    EXPECT_LT(microsecondsSince(start), 500000);
}

TEST(KsSemaphore, CountsUpToItsMaximum) {
    KsSemaphore semaphore;
    semaphore.create(0, 1, "");
    ASSERT_NE(semaphore.handle(), nullptr);
    EXPECT_EQ(semaphore.wait(0), WAIT_TIMEOUT);
    EXPECT_TRUE(semaphore.release());
    EXPECT_EQ(semaphore.wait(0), WAIT_OBJECT_0);
    EXPECT_TRUE(semaphore.release());
    EXPECT_FALSE(semaphore.release());  // past the maximum
    EXPECT_EQ(semaphore.wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(semaphore.wait(0), WAIT_TIMEOUT);  // the refused release added nothing
}

TEST(KsSemaphore, WithoutAHandleOperationsFail) {
    KsSemaphore semaphore;
    EXPECT_EQ(semaphore.wait(0), WAIT_FAILED);
    EXPECT_FALSE(semaphore.release());
    semaphore.create(1, 1, "");
    ASSERT_NE(semaphore.handle(), nullptr);
    semaphore.close();
    EXPECT_EQ(semaphore.handle(), nullptr);
    EXPECT_EQ(semaphore.wait(0), WAIT_FAILED);
}

}  // namespace
