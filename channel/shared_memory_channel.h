// SPDX-License-Identifier: MIT
// CSharedMemoryChannel: framed messages (codec/frame.h) over one connected,
// message-mode pipe instance, with overlapped reads and writes that the
// Broker-wide interrupt event can end.
#pragma once

#include <atomic>
#include <cstdint>

#include "channel/message.h"
#include "foundation/ks_monitor.h"
#include "foundation/ks_string.h"
#include "pal/win32.h"

class CBrokerContext;

class CSharedMemoryChannel {
  public:
    // Takes ownership of the connected instance.
    CSharedMemoryChannel(const char* name, HANDLE pipeHandle, CBrokerContext* context);
    CSharedMemoryChannel(const CSharedMemoryChannel&) = delete;
    CSharedMemoryChannel& operator=(const CSharedMemoryChannel&) = delete;
    virtual ~CSharedMemoryChannel();

    virtual void send(const CMessage& message);
    // Serves the thread's window messages while a read waits (Windows only;
    // elsewhere there are none and it is the plain receive).
    virtual void receiveWithPump(CMessage& message);
    virtual void receive(CMessage& message);
    virtual const char* name() = 0;

    // Disconnects and closes the pipe, once, whichever thread comes first.
    void close();
    // Whether the pipe is open and its client still connected. Safe against a
    // concurrent close on the channel's own thread.
    bool isConnected();
    HANDLE pipeHandle() const { return pipeHandle_.load(std::memory_order_acquire); }
    const KsString& pipePath() const { return pipePath_; }

  protected:
    CBrokerContext* context() const { return context_; }

  private:
    enum class Direction { Read, Write };

    void receiveFrame(CMessage& message, bool pumping);
    // Reads the payload message of a frame that announced `length` (1 to the
    // request cap); returns a malloc'd block of `count` = length + 1 bytes.
    uint8_t* readPayload(uint32_t length, bool pumping, uint32_t& count);
    // One overlapped transfer of at most `count` bytes (one pipe message);
    // returns the bytes moved. With `more`, a message longer than `count`
    // sets it and leaves the rest for the next read; without, it fails.
    DWORD transfer(Direction direction, void* buffer, DWORD count, bool pumping,
                   bool* more = nullptr);
    // Makes a pending transfer finish before its record and buffer go away.
    void abandonTransfer(OVERLAPPED& overlapped);
    // Serves window messages until the transfer or the interrupt event is signalled.
    void pumpWhilePending(HANDLE transferEvent);

    std::atomic<HANDLE> pipeHandle_;
    CBrokerContext* context_;
    KsString pipePath_;
    KsMonitor closeMonitor_;
};
