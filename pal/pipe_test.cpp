// SPDX-License-Identifier: MIT
// Named pipes, as Windows behaves: instances, clients and names.
#include <gtest/gtest.h>

#include <string>

#include "pal/pipe_test_support.h"
#include "pal/win32.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "pal/pipe_internal.h"
#endif

namespace {

using namespace pipetest;

TEST(Pipe, ConnectPendsUntilAClientArrives) {
    std::string path = uniquePipe("pend");
    HANDLE server = newServer(path);
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FAILS(ConnectNamedPipe(server, &ov), FALSE, ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 50), DWORD(WAIT_TIMEOUT));
    HANDLE client = newClient(path);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 5000), WAIT_OBJECT_0);
    DWORD n = 99;
    EXPECT_TRUE(GetOverlappedResult(server, &ov, &n, TRUE));
    EXPECT_TRUE(HasOverlappedIoCompleted(&ov));
    EXPECT_TRUE(FlushFileBuffers(server));
    CloseHandle(client);
    CloseHandle(server);
    CloseHandle(ov.hEvent);
}

TEST(Pipe, ClientFirstReportsPipeConnected) {
    std::string path = uniquePipe("first");
    HANDLE server = newServer(path);
    HANDLE client = newClient(path);
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FAILS(ConnectNamedPipe(server, &ov), FALSE, ERROR_PIPE_CONNECTED);
    CloseHandle(client);
    CloseHandle(server);
    CloseHandle(ov.hEvent);
}

TEST(Pipe, ClientGoneBeforeConnectIsNoData) {
    std::string path = uniquePipe("gone");
    HANDLE server = newServer(path);
    CloseHandle(newClient(path));
    EXPECT_FAILS(ConnectNamedPipe(server, nullptr), FALSE, ERROR_NO_DATA);
    EXPECT_TRUE(DisconnectNamedPipe(server));
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FAILS(ConnectNamedPipe(server, &ov), FALSE, ERROR_IO_PENDING);
    HANDLE client = newClient(path);
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(server, &ov, &n, TRUE));
    CloseHandle(client);
    CloseHandle(server);
    CloseHandle(ov.hEvent);
}

TEST(Pipe, ListeningInstanceRefusesTransfers) {
    HANDLE server = newServer(uniquePipe("listening"));
    char buffer[4];
    DWORD n = 0;
    EXPECT_FAILS(ReadFile(server, buffer, sizeof buffer, &n, nullptr), FALSE, ERROR_PIPE_LISTENING);
    EXPECT_FAILS(WriteFile(server, "x", 1, &n, nullptr), FALSE, ERROR_PIPE_LISTENING);
    CloseHandle(server);
}

TEST(Pipe, ServerDisconnectEndsTheClient) {
    Pair p("disconnect");
    EXPECT_TRUE(DisconnectNamedPipe(p.server));
    char buffer[4];
    DWORD n = 0;
#ifdef _WIN32
    EXPECT_FAILS(ReadFile(p.client, buffer, sizeof buffer, &n, nullptr), FALSE,
                 ERROR_PIPE_NOT_CONNECTED);
    EXPECT_FAILS(WriteFile(p.client, "x", 1, &n, nullptr), FALSE, ERROR_PIPE_NOT_CONNECTED);
#else
    // The socket cannot tell the client a disconnect from a close: it sees the
    // codes of a closed server.
    EXPECT_FAILS(ReadFile(p.client, buffer, sizeof buffer, &n, nullptr), FALSE, ERROR_BROKEN_PIPE);
    EXPECT_FAILS(WriteFile(p.client, "x", 1, &n, nullptr), FALSE, ERROR_NO_DATA);
#endif
    DWORD error = 0;
    EXPECT_FALSE(serverRead(p.server, buffer, sizeof buffer, n, error));
    EXPECT_EQ(error, DWORD(ERROR_PIPE_NOT_CONNECTED));
}

TEST(Pipe, MissingPipeIsNotFound) {
    std::string path = uniquePipe("missing");
    EXPECT_FAILS(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr),
                 INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
    EXPECT_FAILS(WaitNamedPipeA(path.c_str(), 10), FALSE, ERROR_FILE_NOT_FOUND);
}

// With its one instance taken, Windows refuses a client with ERROR_PIPE_BUSY
// and WaitNamedPipe times out. The POSIX layer may instead queue the client
// for the next instance; then that instance serves it, and nothing is lost.
TEST(Pipe, NoWaitingInstanceIsBusyOrQueuedForTheNext) {
    std::string path = uniquePipe("busy");
    HANDLE server = newServer(path);
    HANDLE first = newClient(path);
    EXPECT_FAILS(ConnectNamedPipe(server, nullptr), FALSE, ERROR_PIPE_CONNECTED);
    HANDLE queued = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    DWORD openError = GetLastError();
    if (queued == INVALID_HANDLE_VALUE) {
        EXPECT_EQ(openError, DWORD(ERROR_PIPE_BUSY));
        EXPECT_FAILS(WaitNamedPipeA(path.c_str(), 20), FALSE, ERROR_SEM_TIMEOUT);
    }
    HANDLE second = newServer(path);
    if (queued == INVALID_HANDLE_VALUE) {
        EXPECT_TRUE(WaitNamedPipeA(path.c_str(), 1000));
        queued = newClient(path);
    }
    EXPECT_FAILS(ConnectNamedPipe(second, nullptr), FALSE, ERROR_PIPE_CONNECTED);
    DWORD put = 0;
    EXPECT_TRUE(WriteFile(queued, "q", 1, &put, nullptr));
    char got[4] = {};
    DWORD n = 0, error = 0;
    EXPECT_TRUE(serverRead(second, got, sizeof got, n, error));
    EXPECT_EQ(std::string(got, n), "q");
    CloseHandle(queued);
    CloseHandle(second);
    CloseHandle(first);
    CloseHandle(server);
}

// Two clients arrive before the one free instance is taken. Windows refuses
// the second with ERROR_PIPE_BUSY; a client whose open succeeded must be
// served by the next instance and never find its pipe broken.
TEST(Pipe, SecondClientOfOneInstanceIsBusyOrServedNext) {
    std::string path = uniquePipe("twoatonce");
    HANDLE server = newServer(path);
    HANDLE first = newClient(path);
    HANDLE second = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    DWORD openError = GetLastError();
    EXPECT_FAILS(ConnectNamedPipe(server, nullptr), FALSE, ERROR_PIPE_CONNECTED);
    HANDLE next = newServer(path);
    if (second == INVALID_HANDLE_VALUE) {
        EXPECT_EQ(openError, DWORD(ERROR_PIPE_BUSY));
    } else {
        OVERLAPPED ov{};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetLastError(0);
        EXPECT_FALSE(ConnectNamedPipe(next, &ov));
        DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_PIPE_CONNECTED || error == ERROR_IO_PENDING) << error;
        DWORD put = 0;
        EXPECT_TRUE(WriteFile(second, "b", 1, &put, nullptr));
        bool connected = error == ERROR_PIPE_CONNECTED ||
                         WaitForSingleObject(ov.hEvent, 5000) == WAIT_OBJECT_0;
        EXPECT_TRUE(connected);
        if (connected) {
            char got[4] = {};
            DWORD n = 0;
            EXPECT_TRUE(serverRead(next, got, sizeof got, n, error));
            EXPECT_EQ(n, 1u);
            EXPECT_EQ(got[0], 'b');
        }
        CloseHandle(second);
        CloseHandle(next);  // ends a connect still pending, before its record goes
        CloseHandle(ov.hEvent);
        next = INVALID_HANDLE_VALUE;
    }
    if (next != INVALID_HANDLE_VALUE) CloseHandle(next);
    CloseHandle(first);
    CloseHandle(server);
}

TEST(Pipe, NamesIgnoreCase) {
    std::string path = uniquePipe("CaseTest");
    HANDLE server = newServer(path);
    std::string other = path;
    for (char& c : other) {
        c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    }
    HANDLE client = newClient(other);
    EXPECT_FAILS(ConnectNamedPipe(server, nullptr), FALSE, ERROR_PIPE_CONNECTED);
    CloseHandle(client);
    CloseHandle(server);
}

TEST(Pipe, CloseHandleEndsPendingConnect) {
    HANDLE server = newServer(uniquePipe("abortconnect"));
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FAILS(ConnectNamedPipe(server, &ov), FALSE, ERROR_IO_PENDING);
    EXPECT_TRUE(CloseHandle(server));
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 5000), WAIT_OBJECT_0);
    DWORD n = 0;
    EXPECT_FAILS(GetOverlappedResult(server, &ov, &n, TRUE), FALSE, ERROR_HANDLES_CLOSED);
    CloseHandle(ov.hEvent);
}

TEST(Pipe, EmptyNameIsRefused) {
    EXPECT_EQ(CreateNamedPipeA("\\\\.\\pipe\\", PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096,
                               4096, 0, nullptr),
              INVALID_HANDLE_VALUE);
    std::string tooLong = "\\\\.\\pipe\\" + std::string(260, 'x');
    EXPECT_EQ(CreateNamedPipeA(tooLong.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096,
                               4096, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

#ifndef _WIN32
TEST(PipeNames, PlainNamesAreFoldedToLowerCase) {
    EXPECT_EQ(palPipeFileName("MailBroker.Pipe_1-x"), "mailbroker.pipe_1-x");
    EXPECT_EQ(palPipeFileName(std::string(64, 'A')), std::string(64, 'a'));
    EXPECT_EQ(palPipeFileName(std::string(65, 'a')).size(), 17u);
    EXPECT_EQ(palPipeFileName("a"), "a");
}

TEST(PipeNames, OtherNamesAreHashedInsideTheDirectory) {
    EXPECT_EQ(palPipeFileName("A/../B"), "~bc47fcdb83d5e458");  // FNV-1a-64 of "a/../b"
    EXPECT_EQ(palPipeFileName(".."), "~07da1a07b4a03f2d");
    std::string socketPath;
    DWORD error = 0;
    ASSERT_TRUE(palPipeSocketPath("\\\\.\\pipe\\a/../b", socketPath, error));
    std::string dir = socketPath.substr(0, socketPath.rfind('/'));
    EXPECT_EQ(socketPath, dir + "/~bc47fcdb83d5e458");
    ASSERT_GT(dir.size(), 5u);
    EXPECT_EQ(dir.substr(dir.size() - 5), "/pipe");
    EXPECT_NE(dir.find("/winpal"), std::string::npos);
}

// A socket directory others can enter is refused, and a private one is made.
TEST(PipeNames, SocketDirectoryMustBePrivate) {
    char base[] = "/tmp/mbpipe-XXXXXX";
    ASSERT_NE(::mkdtemp(base), nullptr);
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    std::string previous = saved != nullptr ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", base, 1);
    std::string path = uniquePipe("private");
    HANDLE server = newServer(path);
    struct stat st {};
    EXPECT_EQ(::stat((std::string(base) + "/winpal/pipe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    CloseHandle(server);
    ASSERT_EQ(::chmod((std::string(base) + "/winpal/pipe").c_str(), 0755), 0);
    EXPECT_FAILS(CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096,
                                  4096, 0, nullptr),
                 INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
    if (saved != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    ::rmdir((std::string(base) + "/winpal/pipe").c_str());
    ::rmdir((std::string(base) + "/winpal").c_str());
    ::rmdir(base);
}
#endif

}  // namespace
