// SPDX-License-Identifier: MIT
// The POSIX side of pipes: what a peer that does not use the layer can send,
// and what the layer costs the process in descriptors, threads and memory.
// Compiled empty for Windows, where none of it applies.
#ifndef _WIN32
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pal/pipe_internal.h"
#include "pal/pipe_test_support.h"
#include "pal/win32.h"

namespace {

using namespace pipetest;

// A client that speaks the wire contract by hand.
int rawClient(const std::string& pipePath) {
    std::string socketPath;
    DWORD error = 0;
    sockaddr_un address;
    if (!palPipeSocketPath(pipePath.c_str(), socketPath, error) ||
        !palPipeAddress(socketPath, address)) {
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct RawPair {
    HANDLE server;
    int client;
    explicit RawPair(const char* tag) {
        std::string path = uniquePipe(tag);
        server = newServer(path);
        client = rawClient(path);
        EXPECT_GE(client, 0);
        EXPECT_FAILS(ConnectNamedPipe(server, nullptr), FALSE, ERROR_PIPE_CONNECTED);
    }
    ~RawPair() {
        if (client >= 0) ::close(client);
        CloseHandle(server);
    }
    void send(const void* bytes, size_t n) {
        EXPECT_EQ(::send(client, bytes, n, MSG_NOSIGNAL), static_cast<ssize_t>(n));
    }
};

TEST(PipeWire, GarbageLengthBreaksThePipe) {
    for (uint32_t length : {0xFFFFFFFFu, 0x80000001u}) {
        RawPair p("garbage");
        p.send(&length, sizeof length);
        p.send("abcd", 4);
        char buffer[4];
        DWORD n = 0, error = 0;
        EXPECT_FALSE(serverRead(p.server, buffer, sizeof buffer, n, error));
        EXPECT_EQ(error, DWORD(ERROR_BROKEN_PIPE)) << length;
        EXPECT_FAILS(PeekNamedPipe(p.server, nullptr, 0, nullptr, nullptr, nullptr), FALSE,
                     ERROR_BROKEN_PIPE);
        EXPECT_FAILS(WriteFile(p.server, "x", 1, &n, nullptr), FALSE, ERROR_NO_DATA);
    }
}

// The largest length is taken at its word: only what arrives is read, and
// nothing is set aside for the rest.
TEST(PipeWire, TwoGibibyteMessageIsReadInPieces) {
    RawPair p("hugelength");
    uint32_t length = 0x80000000u;
    p.send(&length, sizeof length);
    p.send("abcdefgh", 8);
    char buffer[4];
    DWORD n = 0, error = 0;
    EXPECT_FALSE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(error, DWORD(ERROR_MORE_DATA));
    EXPECT_EQ(std::string(buffer, n), "abcd");
    DWORD total = 0, left = 0;
    EXPECT_TRUE(PeekNamedPipe(p.server, nullptr, 0, nullptr, &total, &left));
    EXPECT_EQ(total, 4u);
    EXPECT_EQ(left, 0x80000000u - 4);
    ::close(p.client);
    p.client = -1;
    EXPECT_FALSE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(error, DWORD(ERROR_MORE_DATA));  // the four bytes that did arrive
    EXPECT_FALSE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(error, DWORD(ERROR_BROKEN_PIPE));
}

TEST(PipeWire, PeerLeavingMidMessageBreaksThePipe) {
    RawPair p("midway");
    uint32_t length = 100;
    p.send(&length, sizeof length);
    p.send("0123456789", 10);
    // The read waits for the rest first, then learns the peer has gone.
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buffer[128];
    EXPECT_FAILS(ReadFile(p.server, buffer, sizeof buffer, nullptr, &ov), FALSE, ERROR_IO_PENDING);
    ::close(p.client);
    p.client = -1;
    DWORD n = 0;
    EXPECT_FAILS(GetOverlappedResult(p.server, &ov, &n, TRUE), FALSE, ERROR_BROKEN_PIPE);
    CloseHandle(ov.hEvent);
}

TEST(PipeWire, SplitLengthPrefixIsJoined) {
    RawPair p("split");
    const unsigned char frame[] = {3, 0, 0, 0, 'x', 'y', 'z'};
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char buffer[8] = {};
    EXPECT_FAILS(ReadFile(p.server, buffer, sizeof buffer, nullptr, &ov), FALSE, ERROR_IO_PENDING);
    for (unsigned char byte : frame) {
        p.send(&byte, 1);
        Sleep(1);
    }
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(p.server, &ov, &n, TRUE));
    EXPECT_EQ(std::string(buffer, n), "xyz");
    CloseHandle(ov.hEvent);
}

// The layer's choice where Wine and Windows are said to differ: the wait for a
// client ends, so that nothing hangs on a record about to go away.
TEST(PipeWire, DisconnectEndsAPendingConnect) {
    std::string path = uniquePipe("discowait");
    HANDLE server = newServer(path);
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FAILS(ConnectNamedPipe(server, &ov), FALSE, ERROR_IO_PENDING);
    EXPECT_TRUE(DisconnectNamedPipe(server));
    DWORD n = 0;
    EXPECT_FAILS(GetOverlappedResult(server, &ov, &n, TRUE), FALSE, ERROR_PIPE_NOT_CONNECTED);
    EXPECT_FAILS(ConnectNamedPipe(server, &ov), FALSE, ERROR_IO_PENDING);
    HANDLE client = newClient(path);
    EXPECT_TRUE(GetOverlappedResult(server, &ov, &n, TRUE));
    CloseHandle(client);
    CloseHandle(server);
    CloseHandle(ov.hEvent);
}

// One framed message from a raw client, read through the server instance.
void expectServed(HANDLE server, int client, char tag) {
    const unsigned char frame[] = {1, 0, 0, 0, static_cast<unsigned char>(tag)};
    EXPECT_EQ(::send(client, frame, sizeof frame, MSG_NOSIGNAL), ssize_t(sizeof frame));
    char got[4] = {};
    DWORD n = 0, error = 0;
    EXPECT_TRUE(serverRead(server, got, sizeof got, n, error)) << tag << " " << error;
    EXPECT_EQ(std::string(got, n), std::string(1, tag));
}

// Clients that connect while every instance is busy wait in the kernel's queue
// rather than being refused; when the last instance closes they are kept, not
// reset, and the next instance of the name serves them in turn.
TEST(PipeWire, QueuedClientsOutliveTheLastInstanceAndTheNextServesThem) {
    std::string path = uniquePipe("queued");
    HANDLE first = newServer(path);
    int held = rawClient(path);
    ASSERT_GE(held, 0);
    EXPECT_FAILS(ConnectNamedPipe(first, nullptr), FALSE, ERROR_PIPE_CONNECTED);
    // Every instance busy: these wait.
    std::vector<int> queued;
    for (int i = 0; i < 3; ++i) {
        queued.push_back(rawClient(path));
        EXPECT_GE(queued.back(), 0) << i;
    }
    ::close(held);
    CloseHandle(first);
    // No instance: the name is gone, as on Windows.
    EXPECT_FAILS(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr),
                 INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
    HANDLE next = newServer(path);
    for (size_t i = 0; i < queued.size(); ++i) {
        if (i > 0) {
            EXPECT_TRUE(DisconnectNamedPipe(next));
        }
        EXPECT_FAILS(ConnectNamedPipe(next, nullptr), FALSE, ERROR_PIPE_CONNECTED);
        expectServed(next, queued[i], static_cast<char>('a' + i));
    }
    for (int fd : queued) {
        ::close(fd);
    }
    CloseHandle(next);
}

// A burst of connects against one instance: each is queued, none refused.
TEST(PipeWire, BurstOfConnectsIsQueuedNotRefused) {
    std::string path = uniquePipe("burst");
    HANDLE server = newServer(path);
    std::vector<HANDLE> clients;
    int refused = 0;
    for (int i = 0; i < 100; ++i) {
        HANDLE c = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (c == INVALID_HANDLE_VALUE) {
            ++refused;
        } else {
            clients.push_back(c);
        }
    }
    EXPECT_EQ(refused, 0);
    for (size_t i = 0; i < clients.size(); ++i) {
        EXPECT_FAILS(ConnectNamedPipe(server, nullptr), FALSE, ERROR_PIPE_CONNECTED);
        DWORD put = 0;
        EXPECT_TRUE(WriteFile(clients[i], "z", 1, &put, nullptr));
        char got[4] = {};
        DWORD n = 0, error = 0;
        EXPECT_TRUE(serverRead(server, got, sizeof got, n, error));
        EXPECT_EQ(n, 1u);
        EXPECT_TRUE(DisconnectNamedPipe(server));
        CloseHandle(clients[i]);
    }
    CloseHandle(server);
}

size_t entries(const char* dir) {
    size_t count = 0;
    if (DIR* d = ::opendir(dir)) {
        while (::readdir(d) != nullptr) {
            ++count;
        }
        ::closedir(d);
    }
    return count;
}

size_t residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoul(line.substr(6));
        }
    }
    return 0;
}

// A connect/transfer/disconnect cycle with a read left pending at the end,
// for the handle's close to cancel.
void cycle(const std::string& path) {
    HANDLE server = newServer(path);
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0, error = 0;
    EXPECT_FAILS(ConnectNamedPipe(server, &ov), FALSE, ERROR_IO_PENDING);
    HANDLE client = newClient(path);
    EXPECT_TRUE(GetOverlappedResult(server, &ov, &n, TRUE));
    EXPECT_TRUE(WriteFile(client, "m", 1, &n, nullptr));
    char buffer[4];
    EXPECT_TRUE(serverRead(server, buffer, sizeof buffer, n, error));
    EXPECT_FAILS(ReadFile(server, buffer, sizeof buffer, nullptr, &ov), FALSE, ERROR_IO_PENDING);
    CloseHandle(server);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 5000), WAIT_OBJECT_0);
    CloseHandle(client);
    CloseHandle(ov.hEvent);
}

TEST(PipeWire, ThousandCyclesLeaveNoDescriptorsOrThreads) {
    std::string path = uniquePipe("hygiene");
    cycle(path);  // starts the I/O thread and fills the layer's descriptor pool
    size_t fds = entries("/proc/self/fd");
    size_t threads = entries("/proc/self/task");
    for (int i = 0; i < 1000; ++i) {
        cycle(path);
    }
    // The I/O thread may still hold the last stream for a moment as it lets go.
    for (int wait = 0; wait < 100 && entries("/proc/self/fd") != fds; ++wait) {
        Sleep(10);
    }
    EXPECT_EQ(entries("/proc/self/fd"), fds);
    EXPECT_EQ(entries("/proc/self/task"), threads);
}

// Pending operations are the I/O thread's work, not threads of their own.
TEST(PipeWire, PendingOperationsNeedNoThreads) {
    std::string path = uniquePipe("nothreads");
    cycle(path);
    size_t threads = entries("/proc/self/task");
    constexpr int kCount = 300;
    std::vector<HANDLE> servers, clients;
    std::vector<OVERLAPPED> ovs(2 * kCount);
    char buffer[4];
    for (int i = 0; i < kCount; ++i) {
        servers.push_back(newServer(path));
        ovs[i].hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        EXPECT_FAILS(ConnectNamedPipe(servers[i], &ovs[i]), FALSE, ERROR_IO_PENDING);
    }
    EXPECT_EQ(entries("/proc/self/task"), threads);
    for (int i = 0; i < kCount; ++i) {
        clients.push_back(newClient(path));
        DWORD n = 0;
        EXPECT_TRUE(GetOverlappedResult(servers[i], &ovs[i], &n, TRUE));
        OVERLAPPED& r = ovs[kCount + i];
        r.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        EXPECT_FAILS(ReadFile(servers[i], buffer, sizeof buffer, nullptr, &r), FALSE,
                     ERROR_IO_PENDING);
    }
    EXPECT_EQ(entries("/proc/self/task"), threads);
    for (int i = 0; i < kCount; ++i) {
        CloseHandle(clients[i]);
        DWORD n = 0;
        EXPECT_FAILS(GetOverlappedResult(servers[i], &ovs[kCount + i], &n, TRUE), FALSE,
                     ERROR_BROKEN_PIPE);
        CloseHandle(servers[i]);
        CloseHandle(ovs[i].hEvent);
        CloseHandle(ovs[kCount + i].hEvent);
    }
}

// A write the reader does not take stays in the caller's buffer: the layer
// keeps no copy of it.
TEST(PipeWire, StalledReaderCostsTheWriterNoCopy) {
    Pair p("stalled");
    std::vector<unsigned char> data(64u << 20, 0x5a);
    size_t before = residentKiB();
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FAILS(WriteFile(p.server, data.data(), DWORD(data.size()), nullptr, &ov), FALSE,
                 ERROR_IO_PENDING);
    Sleep(50);
    EXPECT_LT(residentKiB(), before + 16 * 1024);
    EXPECT_TRUE(CancelIoEx(p.server, &ov));
    DWORD n = 0;
    // Part of it had gone out, so it is finished from a copy and reported done.
    EXPECT_TRUE(GetOverlappedResult(p.server, &ov, &n, TRUE));
    EXPECT_EQ(n, DWORD(data.size()));
    std::vector<unsigned char> got(data.size());
    EXPECT_TRUE(ReadFile(p.client, got.data(), DWORD(got.size()), &n, nullptr));
    EXPECT_EQ(n, DWORD(data.size()));
    EXPECT_TRUE(got == data);
    CloseHandle(ov.hEvent);
}

}  // namespace
#endif
