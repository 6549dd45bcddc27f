// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "foundation/ks_exception.h"
#include "foundation/ks_monitor.h"
#include "foundation/ks_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t microsecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

// A test still running after a minute is ended by SIGALRM rather than left to
// hang the run: a thread stuck in a monitor cannot be joined or reclaimed.
class KsMonitorTest : public ::testing::Test {
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

std::string thrownMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const KsException& e) {
        KsString message(e.getMessage());
        return message.utf8View();
    }
    return "(nothing thrown)";
}

bool becomesSet(const std::atomic<int32_t>& flag, int32_t milliseconds) {
    for (int32_t i = 0; i < milliseconds && flag.load() == 0; ++i) {
        Sleep(1);
    }
    return flag.load() != 0;
}

// Enters once and records that it got in.
class Entrant : public KsThread {
  public:
    explicit Entrant(KsMonitor& monitor) : monitor_(monitor) {}
    void run() override {
        KsMonitorLock lock(monitor_);
        entered = 1;
    }
    std::atomic<int32_t> entered{0};

  private:
    KsMonitor& monitor_;
};

// Gets in and out once, then after a pause gets in again to notify.
class Notifier : public KsThread {
  public:
    explicit Notifier(KsMonitor& monitor) : monitor_(monitor) {}
    void run() override {
        {
            KsMonitorLock lock(monitor_);
            gotIn = 1;
        }
        Sleep(200);
        KsMonitorLock lock(monitor_);
        notified = 1;
        monitor_.notify();
    }
    std::atomic<int32_t> gotIn{0};
    std::atomic<int32_t> notified{0};

  private:
    KsMonitor& monitor_;
};

class Incrementer : public KsThread {
  public:
    Incrementer(KsMonitor& monitor, int64_t& counter) : monitor_(monitor), counter_(counter) {}
    void run() override {
        for (int32_t i = 0; i < 100000; ++i) {
            KsMonitorLock lock(monitor_);
            // A read and a later write, so that without exclusion updates get lost.
            const int64_t seen = counter_;
            SwitchToThread();
            counter_ = seen + 1;
        }
    }

  private:
    KsMonitor& monitor_;
    int64_t& counter_;
};

TEST_F(KsMonitorTest, ReentersAndHoldsUntilTheLastExit) {
    KsMonitor monitor;
    monitor.enter();
    monitor.enter();
    Entrant other(monitor);
    other.start();
    monitor.exit();
    Sleep(100);
    EXPECT_EQ(other.entered.load(), 0);
    monitor.exit();
    EXPECT_TRUE(becomesSet(other.entered, 10000));
    other.join();
}

TEST_F(KsMonitorTest, OperationsWithoutHoldingThrow) {
    KsMonitor monitor;
    EXPECT_EQ(thrownMessage([&] { monitor.exit(); }), "must own monitor prior to calling exit()");
    EXPECT_EQ(thrownMessage([&] { monitor.wait(0); }), "must own monitor prior to calling wait()");
    EXPECT_EQ(thrownMessage([&] { monitor.notify(); }), "must own monitor prior to notify");

    monitor.enter();
    monitor.exit();
    EXPECT_EQ(thrownMessage([&] { monitor.exit(); }), "must own monitor prior to calling exit()");

    KsMonitor other;
    KsMonitorLock holdingOther(other);
    EXPECT_EQ(thrownMessage([&] { monitor.notify(); }), "must own monitor prior to notify");
}

TEST_F(KsMonitorTest, ZeroWaitReturnsAtOnceOrTakesAPendingNotification) {
    KsMonitor monitor;
    KsMonitorLock lock(monitor);
    const Clock::time_point start = Clock::now();
    monitor.wait(0);
    monitor.wait(-1000);
    EXPECT_LT(microsecondsSince(start), 500000);

    EXPECT_TRUE(monitor.notify());
    monitor.wait(0);
    // The wait took the notification, so there is room for another.
    EXPECT_TRUE(monitor.notify());
}

TEST_F(KsMonitorTest, NotificationsDoNotAccumulate) {
    constexpr int64_t kTimeout = 500000;
    KsMonitor monitor;
    KsMonitorLock lock(monitor);
    EXPECT_TRUE(monitor.notify());
    EXPECT_FALSE(monitor.notify());

    Clock::time_point start = Clock::now();
    monitor.wait(kTimeout);
    EXPECT_LT(microsecondsSince(start), kTimeout);
    start = Clock::now();
    monitor.wait(kTimeout);
    EXPECT_GE(microsecondsSince(start), kTimeout);
}

TEST_F(KsMonitorTest, EndlessWaitReleasesFullyUntilNotifiedAndRestoresDepth) {
    KsMonitor monitor;
    monitor.enter();
    monitor.enter();
    monitor.enter();
    Notifier notifier(monitor);
    notifier.start();
    monitor.wait(KsMonitor::kForever);
    // The notifier got in while this thread waited at depth three, and the wait
    // outlasted its pause.
    EXPECT_EQ(notifier.gotIn.load(), 1);
    EXPECT_EQ(notifier.notified.load(), 1);

    EXPECT_NO_THROW(monitor.exit());
    EXPECT_NO_THROW(monitor.exit());
    EXPECT_NO_THROW(monitor.exit());
    EXPECT_EQ(thrownMessage([&] { monitor.exit(); }), "must own monitor prior to calling exit()");
    notifier.join();
}

TEST_F(KsMonitorTest, ExcludesOtherThreads) {
    KsMonitor monitor;
    int64_t counter = 0;
    Incrementer first(monitor, counter);
    Incrementer second(monitor, counter);
    first.start();
    second.start();
    first.join();
    second.join();
    EXPECT_EQ(counter, 200000);
}

#ifndef _WIN32
// With no descriptor left the monitor's semaphore cannot be waited on; its wait
// must then fail loudly yet leave the caller holding the monitor, or the
// caller's own balanced exit would throw in turn.
TEST_F(KsMonitorTest, FailedWaitThrowsWithTheMonitorStillHeld) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own checks open descriptors too, and fail without them.
    GTEST_SKIP() << "needs a process whose descriptors can run out safely";
#endif
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = open("/dev/null", O_RDONLY);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    struct Restore {
        const rlimit& limit;
        ~Restore() { setrlimit(RLIMIT_NOFILE, &limit); }
    };
    // The semaphore's descriptor is made at its first wait, which is the one
    // that finds no descriptor left.
    KsMonitor monitor;
    monitor.enter();
    monitor.enter();
    {
        Restore restore{saved};
        rlimit lowered = saved;
        lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
        EXPECT_EQ(thrownMessage([&] { monitor.wait(0); }),
                  "thread should be able to acquire semaphore");
    }
    EXPECT_NO_THROW(monitor.exit());
    EXPECT_NO_THROW(monitor.exit());
    EXPECT_EQ(thrownMessage([&] { monitor.exit(); }), "must own monitor prior to calling exit()");
}
#endif

}  // namespace
