// SPDX-License-Identifier: MIT
// KsMonitor: a recursive lock with one wait/notify signal.
//
// The lock is a critical section entered once per outermost enter; each
// holding thread's depth lives in a heap cell reached through a TLS slot of the
// monitor's own. The signal is a semaphore of maximum count 1, so notifications
// never accumulate and one notify wakes at most one waiter.
#pragma once

#include <cstdint>
#include <memory>

#include "pal/win32.h"

struct KsMonitorState {
    HANDLE semaphore = nullptr;
    DWORD tlsIndex = TLS_OUT_OF_INDEXES;
    CRITICAL_SECTION criticalSection;
};

class KsMonitor {
  public:
    // No time-out for wait().
    static constexpr int64_t kForever = INT64_MAX;

    // Throws KsException "unable to create tls index" when no slot is left.
    KsMonitor();
    KsMonitor(const KsMonitor&) = delete;
    KsMonitor& operator=(const KsMonitor&) = delete;
    virtual ~KsMonitor();

    void enter();
    void exit();
    // Releases the monitor completely, waits for a notification or the time-out
    // (negative: no wait), then re-acquires it to the same depth.
    void wait(int64_t microseconds);
    BOOL notify();

  private:
    uint32_t holdCount() const;
    uint32_t* cell();
    uint32_t* createCell();
    void dropCell(uint32_t* cell);

    std::unique_ptr<KsMonitorState> state_;
};

// Holds a monitor for one scope.
class KsMonitorLock {
  public:
    explicit KsMonitorLock(KsMonitor& monitor) : monitor_(monitor) { monitor_.enter(); }
    ~KsMonitorLock() { monitor_.exit(); }
    KsMonitorLock(const KsMonitorLock&) = delete;
    KsMonitorLock& operator=(const KsMonitorLock&) = delete;

  private:
    KsMonitor& monitor_;
};
