// SPDX-License-Identifier: MIT
// Named pipes under load, as Windows behaves: many cycles and instances, big
// messages both ways at once, and a client that leaves before it is seen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pal/pipe_test_support.h"
#include "pal/win32.h"

namespace {

using namespace pipetest;

HANDLE newOverlappedClient(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    DWORD mode = PIPE_READMODE_MESSAGE;
    EXPECT_TRUE(SetNamedPipeHandleState(h, &mode, nullptr, nullptr));
    return h;
}

// Connect, one message each way, the client leaves, the server disconnects:
// one instance serves client after client.
TEST(PipeLoad, ThousandConnectCyclesOnOneInstance) {
    std::string path = uniquePipe("cycles");
    HANDLE server = newServer(path);
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int good = 0;
    for (int i = 0; i < 1000; ++i) {
        SetLastError(0);
        BOOL ok = ConnectNamedPipe(server, &ov);
        DWORD error = GetLastError();
        HANDLE client = newClient(path);
        DWORD n = 0;
        if (!ok && error == ERROR_IO_PENDING) {
            ok = GetOverlappedResult(server, &ov, &n, TRUE);
        }
        std::string text = "ping " + std::to_string(i);
        char buffer[32] = {};
        bool round = ok && WriteFile(client, text.data(), DWORD(text.size()), &n, nullptr) &&
                     serverRead(server, buffer, sizeof buffer, n, error) &&
                     std::string(buffer, n) == text && serverWrite(server, "pong", 4) &&
                     ReadFile(client, buffer, sizeof buffer, &n, nullptr) && n == 4;
        CloseHandle(client);
        round = round && !serverRead(server, buffer, sizeof buffer, n, error) &&
                error == ERROR_BROKEN_PIPE;
        good += round ? 1 : 0;
        EXPECT_TRUE(DisconnectNamedPipe(server));
    }
    EXPECT_EQ(good, 1000);
    CloseHandle(ov.hEvent);
    CloseHandle(server);
}

TEST(PipeLoad, ClientGoneBeforeConnectIsAlwaysNoData) {
    std::string path = uniquePipe("goneagain");
    int noData = 0;
    for (int i = 0; i < 200; ++i) {
        HANDLE server = newServer(path);
        CloseHandle(newClient(path));
        OVERLAPPED ov{};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetLastError(0);
        BOOL ok = ConnectNamedPipe(server, &ov);
        noData += !ok && GetLastError() == ERROR_NO_DATA ? 1 : 0;
        CloseHandle(server);
        CloseHandle(ov.hEvent);
    }
    EXPECT_EQ(noData, 200);
}

// Many instances wait at once, each with its own pending connect.
TEST(PipeLoad, TwoHundredPendingConnects) {
    std::string path = uniquePipe("many");
    constexpr int kCount = 200;
    std::vector<HANDLE> servers, clients;
    std::vector<OVERLAPPED> ovs(kCount);
    for (int i = 0; i < kCount; ++i) {
        servers.push_back(newServer(path));
        ovs[i].hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        EXPECT_FAILS(ConnectNamedPipe(servers[i], &ovs[i]), FALSE, ERROR_IO_PENDING);
    }
    for (int i = 0; i < kCount; ++i) {
        clients.push_back(newClient(path));
    }
    int connected = 0;
    for (int i = 0; i < kCount; ++i) {
        DWORD n = 0;
        connected += GetOverlappedResult(servers[i], &ovs[i], &n, TRUE) ? 1 : 0;
    }
    EXPECT_EQ(connected, kCount);
    for (int i = 0; i < kCount; ++i) {
        CloseHandle(clients[i]);
        CloseHandle(servers[i]);
        CloseHandle(ovs[i].hEvent);
    }
}

std::vector<unsigned char> pattern(size_t size, unsigned seed) {
    std::vector<unsigned char> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<unsigned char>(i * seed + (i >> 11));
    }
    return data;
}

// Neither side reads before its own big write is under way: the layer must
// carry both at once rather than wait for the peer.
TEST(PipeLoad, BothSidesWriteBigMessagesAtOnce) {
    std::string path = uniquePipe("bothways");
    HANDLE server = newServer(path);
    HANDLE client = newOverlappedClient(path);
    EXPECT_FAILS(ConnectNamedPipe(server, nullptr), FALSE, ERROR_PIPE_CONNECTED);
    const size_t size = 8u << 20;
    std::vector<unsigned char> fromServer = pattern(size, 7), fromClient = pattern(size, 13);
    std::vector<unsigned char> atServer(size), atClient(size);
    HANDLE ends[4] = {server, client, server, client};
    OVERLAPPED ov[4] = {};
    for (OVERLAPPED& o : ov) {
        o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    BOOL started[4];
    started[0] = WriteFile(server, fromServer.data(), DWORD(size), nullptr, &ov[0]);
    started[1] = WriteFile(client, fromClient.data(), DWORD(size), nullptr, &ov[1]);
    started[2] = ReadFile(server, atServer.data(), DWORD(size), nullptr, &ov[2]);
    started[3] = ReadFile(client, atClient.data(), DWORD(size), nullptr, &ov[3]);
    for (int i = 0; i < 4; ++i) {
        if (!started[i]) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
        }
    }
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(WaitForSingleObject(ov[i].hEvent, 30000), WAIT_OBJECT_0) << "operation " << i;
        DWORD n = 0;
        EXPECT_TRUE(GetOverlappedResult(ends[i], &ov[i], &n, FALSE));
        EXPECT_EQ(n, DWORD(size));
        CloseHandle(ov[i].hEvent);
    }
    EXPECT_TRUE(atServer == fromClient);
    EXPECT_TRUE(atClient == fromServer);
    CloseHandle(client);
    CloseHandle(server);
}

}  // namespace
