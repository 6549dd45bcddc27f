// SPDX-License-Identifier: MIT
#include "broker/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Parsed {
    bool ok;
    std::string pipe;
    std::string pid;
};

Parsed parse(const char* line) {
    BrokerCommandLine out;
    Parsed p{parseBrokerCommandLine(KsString(line), out), "", ""};
    if (p.ok) {
        p.pipe = out.pipeName.utf8View();
        p.pid = out.hostProcessIdText.utf8View();
    }
    return p;
}

TEST(BrokerCommandLine, TakesTheTextBetweenAndAfterTheMarkers) {
    Parsed p = parse("/usr/bin/mailbroker --ipc=abc --proc=1234");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.pipe, "abc");
    EXPECT_EQ(p.pid, "1234");
}

TEST(BrokerCommandLine, ProcBeforeIpcIsRefused) {
    EXPECT_FALSE(parse("prog --proc=1234 --ipc=abc").ok);
    EXPECT_FALSE(parse("prog --ipc=abc").ok);
    EXPECT_FALSE(parse("prog --proc=1").ok);
}

TEST(BrokerCommandLine, MarkersMatchExactly) {
    EXPECT_FALSE(parse("prog\t--ipc=abc --proc=1").ok);
    EXPECT_FALSE(parse("--ipc=abc --proc=1").ok) << "no blank before the marker";
    EXPECT_FALSE(parse("prog --IPC=abc --proc=1").ok);
    EXPECT_FALSE(parse("prog --ipc=abc --PROC=1").ok);
}

TEST(BrokerCommandLine, ValuesKeepBlanksAndTrailingText) {
    Parsed p = parse("prog --ipc=a b --proc=1234 more words");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.pipe, "a b");
    EXPECT_EQ(p.pid, "1234 more words");
}

TEST(BrokerCommandLine, EmptyValuesAndRepeatedMarkers) {
    Parsed empty = parse("prog --ipc= --proc=");
    ASSERT_TRUE(empty.ok);
    EXPECT_EQ(empty.pipe, "");
    EXPECT_EQ(empty.pid, "");
    Parsed repeated = parse("prog --ipc=x --proc=1 --ipc=y --proc=2");
    ASSERT_TRUE(repeated.ok);
    EXPECT_EQ(repeated.pipe, "x");
    EXPECT_EQ(repeated.pid, "1 --ipc=y --proc=2");
}

}  // namespace
