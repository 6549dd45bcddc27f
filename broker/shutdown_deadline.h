// SPDX-License-Identifier: MIT
// ShutdownDeadline: how long the Broker may spend ending once its host is gone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Armed when the Broker starts stopping its channels. A channel thread may be
// stuck in a system call that nothing interrupts (a read of a file that never
// delivers, a wait for a child that never ends); joining it would keep the
// Broker, its pipe and its host's resources alive for good. Unless disarmed
// within the grace period, the deadline ends the process at once.
class ShutdownDeadline {
  public:
    using Expiry = std::function<void()>;

    // Starts the clock. `onExpiry` runs on the deadline's own thread when the
    // grace period passes undisarmed; by default it ends the process.
    explicit ShutdownDeadline(std::chrono::milliseconds grace, Expiry onExpiry = endProcessNow);
    ShutdownDeadline(const ShutdownDeadline&) = delete;
    ShutdownDeadline& operator=(const ShutdownDeadline&) = delete;
    // Disarms, and waits for the deadline's thread.
    ~ShutdownDeadline();

    // Everything stopped in time: the expiry will not run.
    void disarm();

    // Ends the process with exit code 0 without running exit handlers, static
    // destructors or stdio flushing: each of those may wait for a lock or an
    // object a stuck thread holds, and none of them holds anything the
    // Broker's outcome depends on. Queued messages are safe: a delivery in
    // progress holds an flock that the end of the process releases, leaving
    // the message in the Outbox for the next logon, as after a crash.
    static void endProcessNow();

  private:
    void run(std::chrono::milliseconds grace);

    std::mutex lock_;
    std::condition_variable changed_;
    bool disarmed_ = false;
    Expiry onExpiry_;
    std::thread thread_;
};
