// SPDX-License-Identifier: MIT
// Named pipes, as Windows behaves: messages, overlapped transfers and peeking.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pal/pipe_test_support.h"
#include "pal/win32.h"

namespace {

using namespace pipetest;

TEST(Pipe, MessagesTravelBothWays) {
    Pair p("trip");
    DWORD n = 0, error = 0;
    ASSERT_TRUE(WriteFile(p.client, "hello", 5, &n, nullptr));
    EXPECT_EQ(n, 5u);
    char buffer[32] = {};
    EXPECT_TRUE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(std::string(buffer, n), "hello");
    ASSERT_TRUE(serverWrite(p.server, "world!", 6));
    EXPECT_TRUE(ReadFile(p.client, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "world!");
}

TEST(Pipe, ShortReadReturnsMoreData) {
    Pair p("more");
    DWORD n = 0, error = 0;
    ASSERT_TRUE(WriteFile(p.client, "0123456789", 10, &n, nullptr));
    ASSERT_TRUE(WriteFile(p.client, "next", 4, &n, nullptr));
    char buffer[16] = {};
    EXPECT_FALSE(serverRead(p.server, buffer, 4, n, error));
    EXPECT_EQ(error, DWORD(ERROR_MORE_DATA));
    EXPECT_EQ(std::string(buffer, n), "0123");
    EXPECT_TRUE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(std::string(buffer, n), "456789");
    EXPECT_TRUE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(std::string(buffer, n), "next");
}

TEST(Pipe, ZeroLengthMessageIsAMessage) {
    Pair p("zero");
    DWORD n = 7, error = 0;
    ASSERT_TRUE(WriteFile(p.client, "", 0, &n, nullptr));
    EXPECT_EQ(n, 0u);
    ASSERT_TRUE(WriteFile(p.client, "x", 1, &n, nullptr));
    char buffer[8] = {};
    n = 7;
    EXPECT_TRUE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(std::string(buffer, n), "x");
}

struct BigWrite {
    HANDLE client;
    std::vector<unsigned char> data;
    BOOL ok = FALSE;
};

DWORD WINAPI writeBig(LPVOID parameter) {
    auto* job = static_cast<BigWrite*>(parameter);
    DWORD n = 0;
    job->ok = WriteFile(job->client, job->data.data(), DWORD(job->data.size()), &n, nullptr) &&
              n == job->data.size();
    return 0;
}

TEST(Pipe, SixteenMebibyteMessage) {
    Pair p("big");
    BigWrite job{p.client, std::vector<unsigned char>(16u << 20)};
    for (size_t i = 0; i < job.data.size(); ++i) {
        job.data[i] = static_cast<unsigned char>(i * 7 + (i >> 12));
    }
    HANDLE writer = CreateThread(nullptr, 0, writeBig, &job, 0, nullptr);
    ASSERT_NE(writer, nullptr);
    std::vector<unsigned char> got(job.data.size() + 16);
    DWORD n = 0, error = 0;
    EXPECT_TRUE(serverRead(p.server, got.data(), DWORD(got.size()), n, error));
    EXPECT_EQ(n, DWORD(job.data.size()));
    EXPECT_EQ(WaitForSingleObject(writer, 20000), WAIT_OBJECT_0);
    CloseHandle(writer);
    EXPECT_TRUE(job.ok);
    got.resize(n);
    EXPECT_TRUE(got == job.data);
}

TEST(Pipe, LargeOverlappedWriteCompletesAsTheReaderTakesIt) {
    Pair p("bigwrite");
    std::vector<unsigned char> data(1u << 20);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i * 13 + (i >> 10));
    }
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD put = 0;
    SetLastError(0);
    BOOL ok = WriteFile(p.server, data.data(), DWORD(data.size()), &put, &ov);
    if (!ok) {
        EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    }
    std::vector<unsigned char> got(data.size());
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(p.client, got.data(), DWORD(got.size()), &n, nullptr));
    EXPECT_EQ(n, DWORD(data.size()));
    EXPECT_TRUE(GetOverlappedResult(p.server, &ov, &put, TRUE));
    EXPECT_EQ(put, DWORD(data.size()));
    EXPECT_TRUE(got == data);
    CloseHandle(ov.hEvent);
}

TEST(Pipe, PeekCountsWithoutTaking) {
    Pair p("peek");
    DWORD n = 0, error = 0;
    ASSERT_TRUE(WriteFile(p.client, "abc", 3, &n, nullptr));
    ASSERT_TRUE(WriteFile(p.client, "defgh", 5, &n, nullptr));
    char buffer[8] = {};
    DWORD copied = 0, total = 0, left = 0;
    ASSERT_TRUE(PeekNamedPipe(p.server, buffer, 2, &copied, &total, &left));
    EXPECT_EQ(copied, 2u);
    EXPECT_EQ(std::string(buffer, 2), "ab");
    EXPECT_EQ(total, 8u);
    EXPECT_EQ(left, 1u);  // what the copy leaves of the first message
    EXPECT_TRUE(PeekNamedPipe(p.server, nullptr, 0, nullptr, nullptr, nullptr));
    EXPECT_FALSE(serverRead(p.server, buffer, 1, n, error));
    EXPECT_EQ(error, DWORD(ERROR_MORE_DATA));
    ASSERT_TRUE(PeekNamedPipe(p.server, nullptr, 0, nullptr, &total, &left));
    EXPECT_EQ(total, 7u);
    EXPECT_EQ(left, 2u);
}

TEST(Pipe, ClosedClientBreaksThePipe) {
    Pair p("broken");
    CloseHandle(p.client);
    p.client = INVALID_HANDLE_VALUE;
    char buffer[8];
    DWORD n = 0, error = 0;
    EXPECT_FALSE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(error, DWORD(ERROR_BROKEN_PIPE));
    EXPECT_FAILS(PeekNamedPipe(p.server, nullptr, 0, nullptr, nullptr, nullptr), FALSE,
                 ERROR_BROKEN_PIPE);
    EXPECT_FAILS(WriteFile(p.server, "x", 1, &n, nullptr), FALSE, ERROR_NO_DATA);
    EXPECT_TRUE(DisconnectNamedPipe(p.server));
    EXPECT_FAILS(WriteFile(p.server, "x", 1, &n, nullptr), FALSE, ERROR_PIPE_NOT_CONNECTED);
}

TEST(Pipe, SyncShortReadReportsItsCount) {
    Pair p("syncmore");
    ASSERT_TRUE(serverWrite(p.server, "abcdef", 6));
    char buffer[8] = {};
    DWORD n = 0;
    EXPECT_FAILS(ReadFile(p.client, buffer, 4, &n, nullptr), FALSE, ERROR_MORE_DATA);
    EXPECT_EQ(std::string(buffer, n), "abcd");
    EXPECT_TRUE(ReadFile(p.client, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "ef");
}

TEST(Pipe, ByteModeReadRunsAcrossMessages) {
    std::string path = uniquePipe("bytes");
    HANDLE server = newServer(path);
    HANDLE client = newClient(path, false);
    EXPECT_FAILS(ConnectNamedPipe(server, nullptr), FALSE, ERROR_PIPE_CONNECTED);
    ASSERT_TRUE(serverWrite(server, "ab", 2));
    ASSERT_TRUE(serverWrite(server, "cd", 2));
    char buffer[8] = {};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(client, buffer, 3, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "abc");
    EXPECT_TRUE(ReadFile(client, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "d");
    CloseHandle(client);
    CloseHandle(server);
}

TEST(Pipe, ReadOfQueuedDataCompletesAtOnce) {
    Pair p("atonce");
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(p.client, "now", 3, &n, nullptr));
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buffer[8] = {};
    EXPECT_TRUE(ReadFile(p.server, buffer, sizeof buffer, nullptr, &ov));
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(p.server, &ov, &n, FALSE));
    EXPECT_EQ(std::string(buffer, n), "now");
    CloseHandle(ov.hEvent);
}

TEST(Pipe, OverlappedReadCompletesAfterALaterWrite) {
    Pair p("later");
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    char buffer[16] = {};
    DWORD n = 0;
    EXPECT_FAILS(ReadFile(p.server, buffer, sizeof buffer, nullptr, &ov), FALSE, ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), DWORD(WAIT_TIMEOUT));  // the read reset it
    EXPECT_FAILS(GetOverlappedResult(p.server, &ov, &n, FALSE), FALSE, ERROR_IO_INCOMPLETE);
    ASSERT_TRUE(WriteFile(p.client, "late", 4, &n, nullptr));
    n = 0;
    EXPECT_TRUE(GetOverlappedResult(p.server, &ov, &n, TRUE));
    EXPECT_EQ(std::string(buffer, n), "late");
    CloseHandle(ov.hEvent);
}

// Closing the handle ends its pending read as a broken pipe.
TEST(Pipe, CloseHandleEndsPendingRead) {
    Pair p("abort");
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buffer[16];
    DWORD n = 0;
    EXPECT_FAILS(ReadFile(p.server, buffer, sizeof buffer, nullptr, &ov), FALSE, ERROR_IO_PENDING);
    EXPECT_TRUE(CloseHandle(p.server));
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 5000), WAIT_OBJECT_0);
    EXPECT_FAILS(GetOverlappedResult(p.server, &ov, &n, TRUE), FALSE, ERROR_BROKEN_PIPE);
    p.server = INVALID_HANDLE_VALUE;
    EXPECT_FAILS(ReadFile(p.client, buffer, sizeof buffer, &n, nullptr), FALSE, ERROR_BROKEN_PIPE);
    CloseHandle(ov.hEvent);
}

}  // namespace
