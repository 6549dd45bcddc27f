// SPDX-License-Identifier: MIT
#include "channel/message.h"

#include <gtest/gtest.h>

#include <cstring>

#include "pal/win32.h"

namespace {

TEST(Message, StartsEmptyWithThisProcessId) {
    CMessage message;
    EXPECT_EQ(message.messageId(), 0u);
    EXPECT_EQ(message.processId(), GetCurrentProcessId());
    EXPECT_EQ(message.length(), 0u);
    EXPECT_EQ(message.data(), nullptr);
}

TEST(Message, SettersCopyAndReplace) {
    CMessage message;
    char bytes[] = "first";
    message.setFromFrame(3, 99, reinterpret_cast<const uint8_t*>(bytes), 5);
    bytes[0] = 'X';
    EXPECT_EQ(message.processId(), 99u);
    EXPECT_EQ(std::memcmp(message.data(), "first", 5), 0);
    // From its own data: the new buffer is filled before the old one goes.
    message.setForSend(4, message.data() + 1, 3);
    EXPECT_EQ(message.messageId(), 4u);
    EXPECT_EQ(message.processId(), GetCurrentProcessId());
    ASSERT_EQ(message.length(), 3u);
    EXPECT_EQ(std::memcmp(message.data(), "irs", 3), 0);
}

}  // namespace
