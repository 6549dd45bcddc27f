// SPDX-License-Identifier: MIT
#include "broker/shutdown_deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(ShutdownDeadline, ExpiresWhenNotDisarmedInTime) {
    std::atomic<bool> expired{false};
    ShutdownDeadline deadline(20ms, [&] { expired = true; });
    // Polled with a generous hang guard; only the outcome is judged.
    for (int i = 0; i < 1000 && !expired; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(expired);
}

TEST(ShutdownDeadline, DisarmedInTimeNeverExpires) {
    std::atomic<bool> expired{false};
    {
        ShutdownDeadline deadline(std::chrono::hours(1), [&] { expired = true; });
        deadline.disarm();
    }  // the destructor returns without waiting out the hour
    EXPECT_FALSE(expired);
}

TEST(ShutdownDeadline, DestroyedUndisarmedDoesNotExpire) {
    std::atomic<bool> expired{false};
    { ShutdownDeadline deadline(std::chrono::hours(1), [&] { expired = true; }); }
    EXPECT_FALSE(expired);
}

TEST(ShutdownDeadlineDeathTest, DefaultExpiryEndsTheProcessWithCodeZero) {
    // A thread that never ends is what the deadline exists for.
    EXPECT_EXIT(
        {
            ShutdownDeadline deadline(10ms);
            std::thread([] {
                for (;;) {
                    std::this_thread::sleep_for(1s);
                }
            }).join();
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
