// SPDX-License-Identifier: MIT
// The open descriptors and threads of a process, as /proc lists them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <thread>

namespace mbtest {

size_t openFdCount(pid_t pid);
size_t threadCount(pid_t pid);
// Resident memory in KiB (VmRSS), 0 when unknown.
size_t residentKiB(pid_t pid);

// Polls `count` every 10 ms until it settles at `expected` or `limit` passes;
// returns the last count. A Broker lets go of a connection's descriptors and
// thread a little after the client has gone.
template <typename Count>
size_t settleAt(Count count, size_t expected, std::chrono::milliseconds limit) {
    size_t n = count();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (n != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        n = count();
    }
    return n;
}

}  // namespace mbtest
