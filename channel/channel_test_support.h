// SPDX-License-Identifier: MIT
// Helpers for the channel tests: a connected pipe pair with the server end
// overlapped, and client-side frame writing and reading.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/frame.h"
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
    const codec::FrameWord bytes = codec::encodeFrameWord(value);
    writeMessage(client, bytes.data(), codec::kFrameWordBytes);
}

inline void writeFrame(HANDLE client, uint32_t messageId, const std::string& payload,
                       uint32_t magic = codec::kFrameMagic,
                       uint32_t version = codec::kFrameVersion) {
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
    EXPECT_EQ(message.size(), codec::kFrameWordBytes);
    if (message.size() != codec::kFrameWordBytes) {
        return 0;
    }
    return codec::decodeFrameWord(message.data());
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
