// SPDX-License-Identifier: MIT
// BrokerHost: what a host application does to use a Broker. It starts the Broker
// with a fresh pipe name and the caller's process id (" --ipc=NAME --proc=PID"),
// connects to its pipe, and stops it. A Broker ends by itself when its host
// process ends; stop() is for a host that wants it gone earlier.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/broker_connection.h"
#include "host/child_process.h"

class BrokerHost {
  public:
    struct Options {
        // Time allowed for the Broker to create its pipe, and for each connect.
        uint32_t connectTimeoutMs = 5000;
        // Pipe name; empty picks a fresh one.
        std::string pipeName;
        // The process whose end ends the Broker; 0 means the caller.
        uint32_t hostPid = 0;
        ChildProcess::Options process;
    };

    // Starts `brokerPath`. Throws HostError(StartFailed) when it cannot be run.
    static BrokerHost start(const std::string& brokerPath, const Options& options);
    static BrokerHost start(const std::string& brokerPath) { return start(brokerPath, Options{}); }

    // A new connection to the Broker's pipe. Throws HostError; StartFailed when the
    // Broker ended before serving.
    BrokerConnection connect();

    const std::string& pipeName() const { return pipeName_; }
    pid_t pid() const { return process_.pid(); }
    ChildProcess& process() { return process_; }

    // Kills the Broker and waits for it.
    void stop() { process_.terminate(); }

    // A pipe name no other Broker of this machine uses.
    static std::string freshPipeName();

  private:
    BrokerHost(ChildProcess process, std::string pipeName, uint32_t timeoutMs)
        : process_(std::move(process)), pipeName_(std::move(pipeName)), timeoutMs_(timeoutMs) {}

    ChildProcess process_;
    std::string pipeName_;
    uint32_t timeoutMs_;
};
