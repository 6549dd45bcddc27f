// SPDX-License-Identifier: MIT
#include "channel/message.h"

#include <cstring>

#include "foundation/ks_exception.h"
#include "pal/win32.h"

CMessage::CMessage() : processId_(GetCurrentProcessId()) {}

CMessage::~CMessage() = default;

void CMessage::setFromFrame(uint32_t messageId, uint32_t processId, const uint8_t* bytes,
                            uint32_t count) {
    store(messageId, processId, bytes, count);
}

void CMessage::setForSend(uint32_t messageId, const uint8_t* bytes, uint32_t count) {
    store(messageId, GetCurrentProcessId(), bytes, count);
}

void CMessage::store(uint32_t messageId, uint32_t processId, const uint8_t* bytes,
                     uint32_t count) {
    // The new buffer is filled before the old one goes, so `bytes` may point
    // into this message's own data.
    std::unique_ptr<uint8_t, Free> buffer(static_cast<uint8_t*>(std::malloc(count == 0 ? 1 : count)));
    if (!buffer) {
        throw KsException("unable to allocate memory");
    }
    if (count != 0) {
        std::memcpy(buffer.get(), bytes, count);
    }
    messageId_ = messageId;
    processId_ = processId;
    data_ = std::move(buffer);
    length_ = count;
}

void CMessage::adoptFromFrame(uint32_t messageId, uint32_t processId, uint8_t* buffer,
                              uint32_t count) {
    data_.reset(buffer);
    messageId_ = messageId;
    processId_ = processId;
    length_ = count;
}
