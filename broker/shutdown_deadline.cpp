// SPDX-License-Identifier: MIT
#include "broker/shutdown_deadline.h"

#include <cstdlib>
#include <utility>

ShutdownDeadline::ShutdownDeadline(std::chrono::milliseconds grace, Expiry onExpiry)
    : onExpiry_(std::move(onExpiry)), thread_([this, grace] { run(grace); }) {}

ShutdownDeadline::~ShutdownDeadline() {
    disarm();
    thread_.join();
}

void ShutdownDeadline::disarm() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        disarmed_ = true;
    }
    changed_.notify_all();
}

void ShutdownDeadline::endProcessNow() {
    // Not exit(): its handlers, and with the sanitizers the leak check, would
    // walk memory the stuck threads still use.
    std::_Exit(0);
}

void ShutdownDeadline::run(std::chrono::milliseconds grace) {
    std::unique_lock<std::mutex> guard(lock_);
    if (changed_.wait_for(guard, grace, [this] { return disarmed_; })) {
        return;
    }
    guard.unlock();
    onExpiry_();
}
