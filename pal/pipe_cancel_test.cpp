// SPDX-License-Identifier: MIT
// Named pipes, as Windows behaves: cancelling, short reads through the
// OVERLAPPED, and the codes of instances that are not connected.
#include <gtest/gtest.h>

#include <string>

#include "pal/pipe_test_support.h"
#include "pal/win32.h"

namespace {

using namespace pipetest;

struct Pending {
    OVERLAPPED ov{};
    char buffer[16] = {};
    Pending() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Pending() { CloseHandle(ov.hEvent); }
    bool stillPending() const { return WaitForSingleObject(ov.hEvent, 20) == WAIT_TIMEOUT; }
};

TEST(PipeCancel, CancelledReadIsAbortedAndThePipeGoesOn) {
    Pair p("cancelread");
    Pending r;
    EXPECT_FAILS(ReadFile(p.server, r.buffer, sizeof r.buffer, nullptr, &r.ov), FALSE,
                 ERROR_IO_PENDING);
    EXPECT_TRUE(CancelIoEx(p.server, &r.ov));
    DWORD n = 99;
    EXPECT_FAILS(GetOverlappedResult(p.server, &r.ov, &n, TRUE), FALSE, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(r.ov.Internal, ULONG_PTR{0xC0000120u});
    ASSERT_TRUE(WriteFile(p.client, "abc", 3, &n, nullptr));
    DWORD error = 0;
    char buffer[8] = {};
    EXPECT_TRUE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(std::string(buffer, n), "abc");
}

TEST(PipeCancel, NothingToCancelIsNotFound) {
    Pair p("cancelnone");
    Pending r, other;
    EXPECT_FAILS(CancelIoEx(p.server, &other.ov), FALSE, ERROR_NOT_FOUND);
    EXPECT_FAILS(ReadFile(p.server, r.buffer, sizeof r.buffer, nullptr, &r.ov), FALSE,
                 ERROR_IO_PENDING);
    EXPECT_FAILS(CancelIoEx(p.server, &other.ov), FALSE, ERROR_NOT_FOUND);
    EXPECT_TRUE(r.stillPending());
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(p.client, "xy", 2, &n, nullptr));
    EXPECT_TRUE(GetOverlappedResult(p.server, &r.ov, &n, TRUE));
    EXPECT_EQ(std::string(r.buffer, n), "xy");
#ifndef _WIN32
    // Microsoft documents ERROR_NOT_FOUND for a null record too; Wine says TRUE.
    EXPECT_FAILS(CancelIoEx(p.server, nullptr), FALSE, ERROR_NOT_FOUND);
#endif
}

struct ReaderThread {
    HANDLE pipe;
    Pending* read;
    HANDLE started;
    HANDLE release;
};

// Starts a read and stays alive: a thread's end would cancel its operations.
DWORD WINAPI readAndWait(LPVOID parameter) {
    auto* job = static_cast<ReaderThread*>(parameter);
    ReadFile(job->pipe, job->read->buffer, sizeof job->read->buffer, nullptr, &job->read->ov);
    SetEvent(job->started);
    WaitForSingleObject(job->release, INFINITE);
    return 0;
}

TEST(PipeCancel, CancelIoTouchesOnlyTheCallingThreadsOperations) {
    Pair p("cancelthread");
    Pending r;
    ReaderThread job{p.server, &r, CreateEventA(nullptr, TRUE, FALSE, nullptr),
                     CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, readAndWait, &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(job.started, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(CancelIo(p.server));
    EXPECT_TRUE(r.stillPending());
    EXPECT_TRUE(CancelIoEx(p.server, nullptr));
    DWORD n = 0;
    EXPECT_FAILS(GetOverlappedResult(p.server, &r.ov, &n, TRUE), FALSE, ERROR_OPERATION_ABORTED);
    SetEvent(job.release);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(job.started);
    CloseHandle(job.release);
}

TEST(PipeCancel, CancelledConnectCanBeStartedAgain) {
    std::string path = uniquePipe("cancelconnect");
    HANDLE server = newServer(path);
    Pending c;
    EXPECT_FAILS(ConnectNamedPipe(server, &c.ov), FALSE, ERROR_IO_PENDING);
    EXPECT_TRUE(CancelIoEx(server, &c.ov));
    DWORD n = 0;
    EXPECT_FAILS(GetOverlappedResult(server, &c.ov, &n, TRUE), FALSE, ERROR_OPERATION_ABORTED);
    EXPECT_FAILS(ConnectNamedPipe(server, &c.ov), FALSE, ERROR_IO_PENDING);
    EXPECT_TRUE(CancelIo(server));
    EXPECT_FAILS(GetOverlappedResult(server, &c.ov, &n, TRUE), FALSE, ERROR_OPERATION_ABORTED);
    EXPECT_FAILS(ConnectNamedPipe(server, &c.ov), FALSE, ERROR_IO_PENDING);
    HANDLE client = newClient(path);
    EXPECT_TRUE(GetOverlappedResult(server, &c.ov, &n, TRUE));
    ASSERT_TRUE(WriteFile(client, "hi", 2, &n, nullptr));
    DWORD error = 0;
    char buffer[4] = {};
    EXPECT_TRUE(serverRead(server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(std::string(buffer, n), "hi");
    CloseHandle(client);
    CloseHandle(server);
}

// Reads queue in the order they were issued; cancelling one leaves the others.
TEST(PipeCancel, QueuedReadsCompleteInOrder) {
    Pair p("order");
    Pending first, second, third;
    for (Pending* r : {&first, &second, &third}) {
        EXPECT_FAILS(ReadFile(p.server, r->buffer, sizeof r->buffer, nullptr, &r->ov), FALSE,
                     ERROR_IO_PENDING);
    }
    EXPECT_TRUE(CancelIoEx(p.server, &second.ov));
    DWORD n = 0;
    EXPECT_FAILS(GetOverlappedResult(p.server, &second.ov, &n, TRUE), FALSE,
                 ERROR_OPERATION_ABORTED);
    ASSERT_TRUE(WriteFile(p.client, "one", 3, &n, nullptr));
    ASSERT_TRUE(WriteFile(p.client, "two", 3, &n, nullptr));
    EXPECT_TRUE(GetOverlappedResult(p.server, &first.ov, &n, TRUE));
    EXPECT_EQ(std::string(first.buffer, n), "one");
    EXPECT_TRUE(GetOverlappedResult(p.server, &third.ov, &n, TRUE));
    EXPECT_EQ(std::string(third.buffer, n), "two");
}

// The operation signals the event it started with, whatever its handle's value
// names later; and it completes with nobody waiting on it.
TEST(PipeCancel, CompletionSignalsTheOriginalEventOnly) {
    Pair p("eventreuse");
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buffer[8] = {};
    EXPECT_FAILS(ReadFile(p.server, buffer, sizeof buffer, nullptr, &ov), FALSE, ERROR_IO_PENDING);
    CloseHandle(ov.hEvent);
    HANDLE later = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // may reuse the value
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(p.client, "done", 4, &n, nullptr));
    for (int i = 0; i < 500 && !HasOverlappedIoCompleted(&ov); ++i) {
        Sleep(10);
    }
    ASSERT_TRUE(HasOverlappedIoCompleted(&ov));
    EXPECT_EQ(ov.InternalHigh, ULONG_PTR{4});
    EXPECT_EQ(std::string(buffer, 4), "done");
    EXPECT_EQ(WaitForSingleObject(later, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(later);
}

TEST(PipeCancel, PendingShortReadEndsWithMoreData) {
    Pair p("pendingmore");
    Pending r;
    EXPECT_FAILS(ReadFile(p.server, r.buffer, 4, nullptr, &r.ov), FALSE, ERROR_IO_PENDING);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(p.client, "0123456789", 10, &n, nullptr));
    EXPECT_FAILS(GetOverlappedResult(p.server, &r.ov, &n, TRUE), FALSE, ERROR_MORE_DATA);
    EXPECT_EQ(std::string(r.buffer, n), "0123");
    DWORD error = 0;
    char rest[16] = {};
    EXPECT_TRUE(serverRead(p.server, rest, sizeof rest, n, error));
    EXPECT_EQ(std::string(rest, n), "456789");
}

// An overlapped read that fails at once reports its count only in the record.
TEST(PipeCancel, ShortReadAtOnceCountsThroughTheRecord) {
    Pair p("oncemore");
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(p.client, "0123456789", 10, &n, nullptr));
    Pending r;
    n = 77;
    EXPECT_FAILS(ReadFile(p.server, r.buffer, 4, &n, &r.ov), FALSE, ERROR_MORE_DATA);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(r.ov.InternalHigh, ULONG_PTR{4});
    EXPECT_FAILS(GetOverlappedResult(p.server, &r.ov, &n, FALSE), FALSE, ERROR_MORE_DATA);
    EXPECT_EQ(n, 4u);
}

TEST(PipeCancel, InstancesWithoutAClientRefusePeek) {
    std::string path = uniquePipe("peekstates");
    HANDLE server = newServer(path);
    EXPECT_FAILS(PeekNamedPipe(server, nullptr, 0, nullptr, nullptr, nullptr), FALSE,
                 ERROR_BAD_PIPE);
    CloseHandle(newClient(path));
    EXPECT_FAILS(ConnectNamedPipe(server, nullptr), FALSE, ERROR_NO_DATA);
    char buffer[4];
    DWORD n = 0;
    EXPECT_FAILS(PeekNamedPipe(server, nullptr, 0, nullptr, nullptr, nullptr), FALSE,
                 ERROR_BROKEN_PIPE);
    EXPECT_FAILS(ReadFile(server, buffer, sizeof buffer, &n, nullptr), FALSE, ERROR_BROKEN_PIPE);
    EXPECT_FAILS(WriteFile(server, "x", 1, &n, nullptr), FALSE, ERROR_NO_DATA);
    EXPECT_TRUE(FlushFileBuffers(server));
    EXPECT_TRUE(DisconnectNamedPipe(server));
    EXPECT_FAILS(PeekNamedPipe(server, nullptr, 0, nullptr, nullptr, nullptr), FALSE,
                 ERROR_BAD_PIPE);
    EXPECT_FAILS(ReadFile(server, buffer, sizeof buffer, &n, nullptr), FALSE,
                 ERROR_PIPE_NOT_CONNECTED);
    CloseHandle(server);
}

TEST(PipeCancel, PeekSeesAConnectedClientAndItsEnd) {
    Pair p("peekalive");
    EXPECT_TRUE(PeekNamedPipe(p.server, nullptr, 0, nullptr, nullptr, nullptr));
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(p.server, "left", 4, &n, nullptr));
    CloseHandle(p.server);
    p.server = INVALID_HANDLE_VALUE;
    // What the server wrote stays readable after it has gone.
    DWORD total = 0;
    EXPECT_TRUE(PeekNamedPipe(p.client, nullptr, 0, nullptr, &total, nullptr));
    EXPECT_EQ(total, 4u);
    char buffer[8];
    EXPECT_TRUE(ReadFile(p.client, buffer, sizeof buffer, &n, nullptr));
    EXPECT_FAILS(PeekNamedPipe(p.client, nullptr, 0, nullptr, nullptr, nullptr), FALSE,
                 ERROR_BROKEN_PIPE);
    EXPECT_FAILS(WriteFile(p.client, "x", 1, &n, nullptr), FALSE, ERROR_NO_DATA);
}

struct LateClient {
    std::string path;
    HANDLE client = INVALID_HANDLE_VALUE;
};

DWORD WINAPI connectLater(LPVOID parameter) {
    auto* job = static_cast<LateClient*>(parameter);
    Sleep(50);
    job->client = CreateFileA(job->path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    return 0;
}

TEST(PipeCancel, BlockingConnectWaitsForTheClient) {
    LateClient job{uniquePipe("blocking")};
    HANDLE server = CreateNamedPipeA(job.path.c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                     4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HANDLE thread = CreateThread(nullptr, 0, connectLater, &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(ConnectNamedPipe(server, nullptr));
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
    ASSERT_NE(job.client, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(job.client, "sync", 4, &n, nullptr));
    char buffer[8] = {};
    EXPECT_TRUE(ReadFile(server, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "sync");
    CloseHandle(job.client);
    CloseHandle(server);
}

}  // namespace
