// SPDX-License-Identifier: MIT
// What the process-level tests share: a Broker copied into a directory of its
// own beside the provider a test wants, started as a host starts it, and raw
// frame helpers for clients that misbehave on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/temp_dir_test_support.h"
#include "host/broker_connection.h"
#include "host/broker_host.h"
#include "host/child_process.h"

namespace mbtest {

// MAPI_E_NO_SUPPORT as the Broker writes it.
constexpr const char* kNoSupport = "-2147221246";

using mb::test::TempDir;

// Makes this test process (and the Brokers it starts) use a private pipe
// directory, so tests see only their own pipes. Idempotent; returns the runtime
// dir. (On Windows pipes live in the kernel's namespace and each Broker's name
// is fresh: nothing to isolate, and the folder is only a temporary one.)
const std::string& isolatedRuntimeDir();

// A process that stands in for a host: it lives `seconds` and exits 0.
ChildProcess startStandInHost(int seconds);
// A program that exits 0 at once and serves no pipe.
std::string quickExitProgram();

enum class Provider { None, Double, DoubleWithoutLogon };

// A copy of the Broker in a fresh directory; with a double, the double's call
// log is a file in that directory.
class BrokerInstall {
  public:
    explicit BrokerInstall(Provider provider);
    const std::string& brokerPath() const { return brokerPath_; }
    const std::string& directory() const { return dir_.path(); }
    // The environment a started Broker needs for the double's log.
    std::vector<std::string> environment() const;
    // The double's recorded calls so far, one per line.
    std::vector<std::string> calls() const;
    void clearCalls() const;

  private:
    TempDir dir_;
    std::string brokerPath_;
    std::string logPath_;
};

// Starts the installed Broker with the test process as its host unless hostPid
// is given; extraEnvironment ("NAME=value") is laid over the double's settings.
BrokerHost startBroker(const BrokerInstall& install, uint32_t hostPid = 0,
                       const std::vector<std::string>& extraEnvironment = {});

// Frame pieces, each one pipe message.
void sendWord(BrokerConnection& c, uint32_t value);
void sendHeader(BrokerConnection& c, uint32_t magic, uint32_t version, uint32_t messageId,
                uint32_t length);
void sendPayload(BrokerConnection& c, const std::string& payload);

// Waits up to timeoutMs for the Broker to close its end; true if it did.
bool waitForBrokerClose(BrokerConnection& c, uint32_t timeoutMs);
// True when, after waiting `ms`, the pipe is still connected with no reply waiting.
bool silentButConnected(BrokerConnection& c, uint32_t ms);

// The single value of `key` in a reply, or "<absent>".
std::string value(const BrokerConnection::Reply& reply, const char* key);
// All of a reply's fields as "k=v;k=v;" in key order, for whole-reply comparisons.
std::string fields(const BrokerConnection::Reply& reply);

}  // namespace mbtest
