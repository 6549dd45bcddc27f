#include "provider/transport/retry_schedule.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace mb::provider {
namespace {

TEST(RetrySchedule, WrittenThenReadBack) {
    for (const RetrySchedule& s : {RetrySchedule{1, 0}, RetrySchedule{7, 1700000000},
                                   RetrySchedule{INT_MAX, -5},
                                   RetrySchedule{3, static_cast<std::time_t>(LLONG_MAX)}}) {
        const std::string text = formatRetrySchedule(s);
        EXPECT_EQ(text.back(), '\n');
        EXPECT_EQ(parseRetrySchedule(text), s) << text;
    }
    EXPECT_EQ(formatRetrySchedule({2, 120}), "2 120\n");
}

TEST(RetrySchedule, OnlyTheFirstLineCounts) {
    EXPECT_EQ(parseRetrySchedule("2 120\ngarbage"), (RetrySchedule{2, 120}));
    EXPECT_EQ(parseRetrySchedule("2 120"), (RetrySchedule{2, 120}));
}

TEST(RetrySchedule, DamageIsNoSchedule) {
    for (const std::string& text : std::vector<std::string>{
             "", "\n", "2", "2 ", "2 x", "0 5", "-1 5", "2  5", "2 5 ", "2 5\r\n", " 2 5", "+2 5",
          "2\t5", "99999999999999999999 5", "2 99999999999999999999", "2 0x10",
          std::string("2 5\0", 4), std::string("2\0 5", 4)}) {
        EXPECT_EQ(parseRetrySchedule(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace mb::provider
