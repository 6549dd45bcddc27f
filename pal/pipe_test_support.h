// SPDX-License-Identifier: MIT
// Helpers shared by the pipe tests: unique names, pipe ends, waited transfers.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "pal/pal_test_support.h"
#include "pal/win32.h"

// Older mingw-w64 headers lack this code.
#ifndef ERROR_HANDLES_CLOSED
#define ERROR_HANDLES_CLOSED 676L
#endif

namespace pipetest {

// A pipe path no other test or process uses.
inline std::string uniquePipe(const char* tag) {
    static int counter = 0;
    return "\\\\.\\pipe\\mbtest-" + std::string(tag) + "-" +
           std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

inline HANDLE newServer(const std::string& path) {
    HANDLE h = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    return h;
}

inline HANDLE newClient(const std::string& path, bool messageMode = true) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (messageMode && h != INVALID_HANDLE_VALUE) {
        DWORD mode = PIPE_READMODE_MESSAGE;
        EXPECT_TRUE(SetNamedPipeHandleState(h, &mode, nullptr, nullptr));
    }
    return h;
}

// A connected server instance and client.
struct Pair {
    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE client = INVALID_HANDLE_VALUE;
    explicit Pair(const char* tag) {
        std::string path = uniquePipe(tag);
        server = newServer(path);
        client = newClient(path);
        SetLastError(0);
        EXPECT_FALSE(ConnectNamedPipe(server, nullptr));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PIPE_CONNECTED));
    }
    ~Pair() {
        if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
        if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
    }
};

// One overlapped read on the server, waited for; returns the call's result and
// leaves its error in `error`.
inline BOOL serverRead(HANDLE server, void* buffer, DWORD size, DWORD& got, DWORD& error) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    got = 0;
    SetLastError(0);
    BOOL ok = ReadFile(server, buffer, size, &got, &ov);
    error = GetLastError();
    // A short read on an overlapped handle reports its count through the record.
    if (!ok && (error == ERROR_IO_PENDING || error == ERROR_MORE_DATA)) {
        SetLastError(0);
        ok = GetOverlappedResult(server, &ov, &got, TRUE);
        error = GetLastError();
    }
    CloseHandle(ov.hEvent);
    return ok;
}

inline BOOL serverWrite(HANDLE server, const void* data, DWORD size) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD put = 0;
    BOOL ok = WriteFile(server, data, size, &put, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        ok = GetOverlappedResult(server, &ov, &put, TRUE);
    }
    CloseHandle(ov.hEvent);
    return ok && put == size;
}

}  // namespace pipetest
