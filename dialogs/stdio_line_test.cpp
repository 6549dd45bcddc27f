// SPDX-License-Identifier: MIT
#include "dialogs/stdio_line.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace mb::dialogs {
namespace {

// A pipe whose write end a test fills (and may close) before reading.
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe() {
        closeWrite();
        if (fds[0] >= 0) {
            ::close(fds[0]);
        }
    }
    void write(const std::string& text) { ASSERT_TRUE(writeAll(fds[1], text)); }
    void closeWrite() {
        if (fds[1] >= 0) {
            ::close(fds[1]);
            fds[1] = -1;
        }
    }
};

TEST(ReadRequestLine, StopsAtTheFirstLineAndLeavesTheStreamOpen) {
    Pipe p;
    p.write("{\"v\":1}\nmore\n");
    RequestLine line = readRequestLine(p.fds[0], 100);
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.text, "{\"v\":1}");
    EXPECT_FALSE(line.endOfFile);
}

TEST(ReadRequestLine, ALineWithoutNewlineBeforeTheEndIsTakenAndTheEndNoted) {
    Pipe p;
    p.write("{\"v\":1}");
    p.closeWrite();
    RequestLine line = readRequestLine(p.fds[0], 100);
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.text, "{\"v\":1}");
    EXPECT_TRUE(line.endOfFile);
}

TEST(ReadRequestLine, NothingAtAllIsAnError) {
    Pipe p;
    p.closeWrite();
    RequestLine line = readRequestLine(p.fds[0], 100);
    EXPECT_EQ(line.error, "no request on standard input");
}

TEST(ReadRequestLine, AnEmptyLineIsAnEmptyRequestNotAnError) {
    Pipe p;
    p.write("\n");
    RequestLine line = readRequestLine(p.fds[0], 100);
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.text, "");
}

TEST(ReadRequestLine, ALineOfExactlyTheLimitIsAccepted) {
    Pipe p;
    p.write(std::string(100, 'x') + "\n");
    RequestLine line = readRequestLine(p.fds[0], 100);
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.text.size(), 100u);
}

TEST(ReadRequestLine, AnOverlongLineIsRefusedWithoutWaitingForItsEnd) {
    // The writer never closes: the reader must stop on the size alone.
    Pipe p;
    p.write(std::string(101, 'x'));
    RequestLine line = readRequestLine(p.fds[0], 100);
    EXPECT_EQ(line.error, "the request is longer than 100 bytes");
    EXPECT_EQ(line.text, "");
}

TEST(ReadRequestLine, ALineSplitOverManyWritesIsJoined) {
    Pipe p;
    std::thread writer([&] {
        for (int i = 0; i < 50; ++i) {
            writeAll(p.fds[1], "abcdefghij");
        }
        writeAll(p.fds[1], "\n");
    });
    RequestLine line = readRequestLine(p.fds[0], 1000);
    writer.join();
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.text.size(), 500u);
}

TEST(WriteAll, FailsInsteadOfDyingWhenTheReaderIsGone) {
    std::signal(SIGPIPE, SIG_IGN);
    Pipe p;
    ::close(p.fds[0]);
    p.fds[0] = -1;
    EXPECT_FALSE(writeAll(p.fds[1], "{\"result\":\"cancel\"}\n"));
}

TEST(WriteAll, WritesMoreThanAPipeHoldsAtOnce) {
    Pipe p;
    std::string big(1 << 20, 'y');
    std::string got;
    std::thread reader([&] {
        char buf[8192];
        ssize_t n;
        while ((n = ::read(p.fds[0], buf, sizeof buf)) > 0) {
            got.append(buf, static_cast<std::size_t>(n));
        }
    });
    EXPECT_TRUE(writeAll(p.fds[1], big));
    p.closeWrite();
    reader.join();
    EXPECT_EQ(got, big);
}

}  // namespace
}  // namespace mb::dialogs
