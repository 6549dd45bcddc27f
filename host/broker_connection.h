// SPDX-License-Identifier: MIT
// BrokerConnection: one client connection to a Broker's pipe, speaking the frame
// (codec/frame.h): five 4-byte messages (magic, version, process id, message id,
// length), then the payload as one message. Replies come back decoded into a name and a ParamMap.
#pragma once

#include <cstdint>
#include <string>

#include "codec/param_map.h"
#include "foundation/ks_string.h"
#include "pal/win32.h"

class BrokerConnection {
  public:
    struct Reply {
        uint32_t messageId = 0;
        uint32_t processId = 0;
        std::string text;  // the payload as received, UTF-8
        KsString name;
        ParamMap values;

        // The value of `key` as UTF-8, or "<absent>" when the reply has none.
        std::string value(const char* key) const;
    };

    // Connects to "\\.\pipe\" + pipeName, retrying until the pipe exists and an
    // instance is free or timeoutMs has passed. Throws HostError (NotFound,
    // AccessDenied, Timeout, Io).
    static BrokerConnection open(const std::string& pipeName, uint32_t timeoutMs);

    BrokerConnection(BrokerConnection&& other) noexcept;
    BrokerConnection& operator=(BrokerConnection&& other) noexcept;
    BrokerConnection(const BrokerConnection&) = delete;
    BrokerConnection& operator=(const BrokerConnection&) = delete;
    ~BrokerConnection();

    // Sends one request frame with the next message id (1, 2, ...) and returns that id.
    uint32_t send(const std::string& payload);
    // Reads one reply frame. Throws HostError: Timeout (the connection is then
    // closed, since the pending read cannot be withdrawn), Disconnected, Protocol.
    Reply receive(uint32_t timeoutMs);
    // send + receive, and the reply must carry the request's message id.
    Reply request(const std::string& payload, uint32_t timeoutMs);

    // One pipe message of arbitrary bytes, for callers that build frames themselves.
    void writeMessage(const void* bytes, uint32_t count);
    // Reads one pipe message of at most `capacity` bytes; returns its size.
    uint32_t readMessage(void* bytes, uint32_t capacity, uint32_t timeoutMs);

    // True while the Broker's end is connected; `available` gets the bytes waiting.
    bool peek(uint32_t* available = nullptr);

    bool isOpen() const { return pipe_ != INVALID_HANDLE_VALUE; }
    void close();

  private:
    explicit BrokerConnection(HANDLE pipe) : pipe_(pipe) {}
    void writeWord(uint32_t value);

    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    uint32_t nextMessageId_ = 1;
};
