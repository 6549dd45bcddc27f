// SPDX-License-Identifier: MIT
// KsRunnable, KsThread, KsSemaphore and sleep: the foundation library's threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "foundation/ks_string.h"
#include "pal/win32.h"

// A unit of work with a cooperative stop flag. `run` decides whether and when
// it looks at the flag.
class KsRunnable {
  public:
    KsRunnable() = default;
    KsRunnable(const KsRunnable&) = delete;
    KsRunnable& operator=(const KsRunnable&) = delete;
    virtual ~KsRunnable();

    virtual void run() = 0;
    virtual void requestStop() { stopFlag_.store(1, std::memory_order_relaxed); }
    virtual int32_t isStopRequested() { return stopFlag_.load(std::memory_order_relaxed); }

  private:
    // Written by the requesting thread, read by the running one, without a lock.
    // A plain (even volatile) int would be a data race; relaxed order suffices
    // because the flag carries no other data with it.
    std::atomic<int32_t> stopFlag_{0};
};

// A runnable that owns one operating-system thread on which `run` executes.
// The owner joins before destroying: the destructor neither joins nor closes.
class KsThread : public KsRunnable {
  public:
    KsThread() = default;
    // `run` forwards to `target`; when `ownsTarget` is non-zero the thread
    // deletes the target when it is destroyed.
    KsThread(KsRunnable* target, int32_t ownsTarget) : target_(target), ownsTarget_(ownsTarget) {}
    ~KsThread() override;

    void run() override;
    // Creates the thread, which calls run() at once. A failed creation is not
    // reported: the later join returns at once. Starting a thread that was
    // started and not yet joined does nothing.
    virtual void start();
    // True when join() would not wait: the thread has ended, or was never
    // started (or never created).
    virtual bool hasEnded();
    // Waits without time-out for the thread to end and releases its handle.
    // Throws KsException "unable to join thread" when the wait fails.
    virtual void join();

  private:
    static DWORD WINAPI threadEntry(LPVOID self);

    KsRunnable* target_ = nullptr;
    int32_t ownsTarget_ = 0;
    std::unique_ptr<HANDLE> threadHandle_;
};

// Sleeps for the given microseconds in whole milliseconds; under one
// millisecond (and for negative durations) it yields the processor once.
// In its own namespace: a global sleep would overload POSIX ::sleep(unsigned),
// and a call with an unsigned argument would quietly sleep seconds.
namespace ks {
void sleep(int64_t microseconds);
}  // namespace ks

// A counting semaphore handle. Failures are not reported: `create` leaves a
// null handle, and the operations return the system's results unchanged.
class KsSemaphore {
  public:
    KsSemaphore() = default;
    KsSemaphore(const KsSemaphore&) = delete;
    KsSemaphore& operator=(const KsSemaphore&) = delete;
    ~KsSemaphore() { close(); }

    void create(int32_t initialCount, int32_t maximumCount, const KsString& name);
    DWORD wait(DWORD milliseconds);
    BOOL release();
    void close();
    HANDLE handle() const { return handle_; }

  private:
    HANDLE handle_ = nullptr;
};
