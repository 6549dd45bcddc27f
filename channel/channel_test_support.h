// Helpers for the channel tests: a connected pipe pair with the server end
// overlapped, and client-side frame writing and reading.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pal/pipe_test_support.h"
#include "pal/win32.h"

namespace channeltest {

// The server end goes to the channel under test, which closes it.
struct ConnectedPipe {
    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE client = INVALID_HANDLE_VALUE;
    explicit ConnectedPipe(const char* tag) {
        std::string path = pipetest::uniquePipe(tag);
        server = pipetest::newServer(path);
        client = pipetest::newClient(path);
        OVERLAPPED ov{};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!ConnectNamedPipe(server, &ov) && GetLastError() == ERROR_IO_PENDING) {
            DWORD ignored = 0;
            GetOverlappedResult(server, &ov, &ignored, TRUE);
        }
        CloseHandle(ov.hEvent);
    }
    void closeClient() {
        if (client != INVALID_HANDLE_VALUE) {
            CloseHandle(client);
            client = INVALID_HANDLE_VALUE;
        }
    }
    ~ConnectedPipe() { closeClient(); }
};

inline void writeMessage(HANDLE client, const void* bytes, DWORD count) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(client, bytes, count, &written, nullptr));
    ASSERT_EQ(written, count);
}

inline void writeField(HANDLE client, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 24)};
    writeMessage(client, bytes, 4);
}

inline void writeFrame(HANDLE client, uint32_t messageId, const std::string& payload,
                       uint32_t magic = 0xFFFE00FFu, uint32_t version = 0x00010000u) {
    writeField(client, magic);
    writeField(client, version);
    writeField(client, 4242);
    writeField(client, messageId);
    writeField(client, static_cast<uint32_t>(payload.size()));
    writeMessage(client, payload.data(), static_cast<DWORD>(payload.size()));
}

// One pipe message as the client receives it.
inline std::vector<uint8_t> readMessage(HANDLE client) {
    std::vector<uint8_t> buffer(1 << 16);
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(client, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr));
    buffer.resize(got);
    return buffer;
}

inline uint32_t fieldOf(const std::vector<uint8_t>& message) {
    EXPECT_EQ(message.size(), 4u);
    if (message.size() != 4) {
        return 0;
    }
    return static_cast<uint32_t>(message[0]) | static_cast<uint32_t>(message[1]) << 8 |
           static_cast<uint32_t>(message[2]) << 16 | static_cast<uint32_t>(message[3]) << 24;
}

struct ClientFrame {
    uint32_t magic, version, processId, messageId, length;
    std::string payload;
};

inline ClientFrame readFrame(HANDLE client) {
    ClientFrame f{};
    f.magic = fieldOf(readMessage(client));
    f.version = fieldOf(readMessage(client));
    f.processId = fieldOf(readMessage(client));
    f.messageId = fieldOf(readMessage(client));
    f.length = fieldOf(readMessage(client));
    std::vector<uint8_t> payload = readMessage(client);
    f.payload.assign(payload.begin(), payload.end());
    return f;
}

}  // namespace channeltest
