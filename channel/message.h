// SPDX-License-Identifier: MIT
// CMessage: one framed message in memory.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

class CMessage {
  public:
    // messageId 0, this process's id, no data.
    CMessage();
    CMessage(const CMessage&) = delete;
    CMessage& operator=(const CMessage&) = delete;
    virtual ~CMessage();

    // Both copy `count` bytes into a buffer of the message's own.
    void setFromFrame(uint32_t messageId, uint32_t processId, const uint8_t* bytes, uint32_t count);
    // The sender's process id is this process's.
    void setForSend(uint32_t messageId, const uint8_t* bytes, uint32_t count);
    // Takes over `buffer` (from malloc or calloc) instead of copying it, so a
    // large payload is held once.
    void adoptFromFrame(uint32_t messageId, uint32_t processId, uint8_t* buffer, uint32_t count);

    uint32_t messageId() const { return messageId_; }
    uint32_t processId() const { return processId_; }
    uint32_t length() const { return length_; }
    // Null while the message is empty.
    const uint8_t* data() const { return data_.get(); }

  private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };

    void store(uint32_t messageId, uint32_t processId, const uint8_t* bytes, uint32_t count);

    uint32_t messageId_ = 0;
    uint32_t processId_ = 0;
    uint32_t length_ = 0;
    std::unique_ptr<uint8_t, Free> data_;
};
