// SPDX-License-Identifier: MIT
#include "profiles/retry_record.h"

#include <gtest/gtest.h>

#include <fstream>

#include "base/temp_dir_test_support.h"

namespace mb::provider {
namespace {

TEST(RetryRecord, WrittenRecordsReadBackWhole) {
    RetryRecord record;
    record.attempts = 3;
    record.next = 1733750000;
    record.needsAttention = true;
    record.reason = "535 5.7.8 Authentication credentials invalid";
    record.profiles = FileStamp{1733749000123456789, 812};
    record.notified = true;
    const std::string text = formatRetryRecord(record);
    EXPECT_EQ(text,
              "mailbroker-retry 2\nattempts 3\nnext 1733750000\nstate attention\n"
              "reason 535 5.7.8 Authentication credentials invalid\n"
              "profiles 1733749000123456789 812\nnotified yes\n");
    RetryRecord read;
    ASSERT_TRUE(parseRetryRecord(text, read));
    EXPECT_EQ(read, record);

    RetryRecord plain;
    plain.next = -5;  // before 1970 is odd, not damaged
    ASSERT_TRUE(parseRetryRecord(formatRetryRecord(plain), read));
    EXPECT_EQ(read, plain);
    EXPECT_EQ(read.profiles.size, -1);
}

TEST(RetryRecord, TheFirstFormatStillReads) {
    RetryRecord read;
    read.reason = "left over";
    ASSERT_TRUE(parseRetryRecord("4 1700000000\n", read));
    EXPECT_EQ(read.attempts, 4);
    EXPECT_EQ(read.next, 1700000000);
    EXPECT_FALSE(read.needsAttention);
    EXPECT_EQ(read.reason, "");
    ASSERT_TRUE(parseRetryRecord("1 7", read));
    EXPECT_EQ(read.next, 7);
}

TEST(RetryRecord, DamagedRecordsAreRefusedAndLeaveTheOutputAlone) {
    const RetryRecord before{2, 99, true, "kept", FileStamp{1, 2}, true};
    for (const char* text : {
             "", "\n", "x", "0 100\n", "-1 100\n", "3\n", "3 \n", "3 100 7\n", "3 100\nextra\n",
             "99999999999999999999 1\n", "1 99999999999999999999999\n",
             "mailbroker-retry 1\nattempts 1\nnext 1\n", "mailbroker-retry\nattempts 1\nnext 1\n",
             "mailbroker-retry 2\nnext 1\n", "mailbroker-retry 2\nattempts 1\n",
             "mailbroker-retry 2\nattempts 0\nnext 1\n",
             "mailbroker-retry 2\nattempts 1\nnext 1\nstate lost\n",
             "mailbroker-retry 2\nattempts 1\nnext 1\nnotified maybe\n",
             "mailbroker-retry 2\nattempts 1\nnext 1\nprofiles 5\n",
             "mailbroker-retry 2\nattempts 1\nnext 1\nprofiles 5 -3\n",
             "mailbroker-retry 2\nattempts x\nnext 1\n"}) {
        RetryRecord read = before;
        EXPECT_FALSE(parseRetryRecord(text, read)) << text;
        EXPECT_EQ(read, before) << text;
    }
}

TEST(RetryRecord, LaterVersionsKeepWhatThisOneKnows) {
    RetryRecord read;
    ASSERT_TRUE(parseRetryRecord("mailbroker-retry 3\nnext 10\ncolour blue\nattempts 2\n"
                                 "reason a\tb\n",
                                 read));
    EXPECT_EQ(read.attempts, 2);
    EXPECT_EQ(read.next, 10);
    EXPECT_EQ(read.reason, "a b");
}

TEST(RetryRecord, ReasonsStayOneLineAndWholeCharacters) {
    RetryRecord record;
    record.reason = "first\r\nsecond\x1b[31m  third";
    RetryRecord read;
    ASSERT_TRUE(parseRetryRecord(formatRetryRecord(record), read));
    EXPECT_EQ(read.reason, "first second [31m third");
    // A euro sign (3 bytes) straddling the cut is dropped whole.
    EXPECT_EQ(oneLineText(std::string(998, 'a') + "\xE2\x82\xAC", 1000), std::string(998, 'a'));
    EXPECT_EQ(oneLineText(std::string(2000, 'b'), 1000).size(), 1000u);
}

TEST(RetryRecord, FilesAndStamps) {
    mb::test::TempDir dir{"retry-record"};
    const std::string path = dir.path() + "/r";
    RetryRecord read;
    EXPECT_FALSE(readRetryRecord(path, read));
    EXPECT_EQ(stampOf(path), FileStamp{});
    std::ofstream(path) << "2 50\n";
    ASSERT_TRUE(readRetryRecord(path, read));
    EXPECT_EQ(read.attempts, 2);
    const FileStamp stamp = stampOf(path);
    EXPECT_EQ(stamp.size, 5);
    EXPECT_GT(stamp.mtimeNs, 0);
    std::ofstream(path, std::ios::app) << "x";
    EXPECT_NE(stampOf(path), stamp);
    EXPECT_FALSE(readRetryRecord(path, read));
}

}  // namespace
}  // namespace mb::provider
