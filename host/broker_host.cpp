// SPDX-License-Identifier: MIT
#include "host/broker_host.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include "host/host_error.h"
#include "pal/win32.h"

std::string BrokerHost::freshPipeName() {
    static std::atomic<uint32_t> counter{0};
    static const uint64_t salt = std::random_device{}();
    // Pid and counter keep names apart within one machine's lifetime; the salt
    // covers pid reuse across runs.
    char text[80];
    std::snprintf(text, sizeof text, "mailbroker-%u-%u-%08llx", unsigned(GetCurrentProcessId()),
                  unsigned(++counter), static_cast<unsigned long long>(salt & 0xFFFFFFFFu));
    return text;
}

BrokerHost BrokerHost::start(const std::string& brokerPath, const Options& options) {
    std::string name = options.pipeName.empty() ? freshPipeName() : options.pipeName;
    uint32_t hostPid = options.hostPid != 0 ? options.hostPid : GetCurrentProcessId();
    ChildProcess process = ChildProcess::start(
        brokerPath, {"--ipc=" + name, "--proc=" + std::to_string(hostPid)}, options.process);
    return BrokerHost(std::move(process), name, options.connectTimeoutMs);
}

BrokerConnection BrokerHost::connect() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    for (;;) {
        // Short attempts, so that a Broker that died is noticed instead of waited out.
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        try {
            return BrokerConnection::open(pipeName_, left > 100 ? 100
                                                     : left > 0 ? uint32_t(left)
                                                                : 0);
        } catch (const HostError& e) {
            if (e.kind() != HostError::Kind::NotFound && e.kind() != HostError::Kind::Timeout) {
                throw;
            }
            if (auto status = process_.wait(0)) {
                throw HostError(HostError::Kind::StartFailed,
                                "the Broker ended (" + describeExitStatus(*status) +
                                    ") without serving pipe " + pipeName_);
            }
            if (left <= 0) {
                throw;
            }
        }
    }
}
