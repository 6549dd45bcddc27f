// SPDX-License-Identifier: MIT
// CBrokerContext: the one record the listener and every connection share.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/ks_monitor.h"
#include "pal/win32.h"

class CBrokerContext {
  public:
    // The entry checks interruptEvent: without it no pending transfer could be
    // interrupted, so the Broker does not start.
    CBrokerContext()
        : interruptEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          channelEndedEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    CBrokerContext(const CBrokerContext&) = delete;
    CBrokerContext& operator=(const CBrokerContext&) = delete;
    // Runs only after every channel thread has been joined.
    ~CBrokerContext() {
        if (interruptEvent != nullptr) {
            CloseHandle(interruptEvent);
        }
        if (channelEndedEvent != nullptr) {
            CloseHandle(channelEndedEvent);
        }
    }

    // Asks every channel to end: the flag between requests, the event during
    // a pending read or write.
    void requestShutdown() {
        stopRequested.store(1, std::memory_order_relaxed);
        SetEvent(interruptEvent);
    }

    // Read by channel threads without a lock; atomic so that this is no data race.
    std::atomic<int32_t> stopRequested{0};
    KsMonitor registryLock;
    HANDLE interruptEvent;
    // Set by a channel's thread as it ends, so that the listener reaps it
    // without waiting for the next client (may be null: reaping then waits).
    HANDLE channelEndedEvent;
};
