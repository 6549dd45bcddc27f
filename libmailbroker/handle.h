// SPDX-License-Identifier: MIT
// struct mailbroker: one connection to one Broker, started by the library or
// already serving, with the lock that serialises its requests and the last
// error of each thread that called it.
#pragma once

#include <mailbroker/mailbroker.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "host/broker_connection.h"
#include "host/broker_host.h"

// A call made in a state that does not allow it (a request before start, a
// second start).
class StateError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct mailbroker {
  public:
    mailbroker() = default;
    ~mailbroker();
    mailbroker(const mailbroker&) = delete;
    mailbroker& operator=(const mailbroker&) = delete;

    // Both throw StateError, HostError. Callers hold callLock.
    void start(const std::string& brokerPath);
    void connect(const std::string& pipeName);
    // One request and its reply. Throws StateError, HostError.
    BrokerConnection::Reply request(const std::string& payload);

    // The pipe name once started or connected, else nullptr.
    const char* pipeName() const;
    void setTimeout(uint32_t milliseconds) { timeoutMs_.store(milliseconds); }

    // The calling thread's last outcome. A thread whose last call succeeded
    // has no entry, so that threads that come and go leave nothing behind.
    void setError(mailbroker_error code, std::string message);
    void clearError();
    mailbroker_error lastError();
    const char* lastErrorMessage();

    // Serialises the calls on this handle: held for the whole of a request,
    // which may last as long as a person takes in a dialog.
    std::mutex callLock;

  private:
    struct Error {
        mailbroker_error code;
        std::string message;
    };

    std::optional<BrokerHost> host_;
    std::optional<BrokerConnection> connection_;
    std::string pipeName_;
    std::atomic<bool> ready_{false};
    std::atomic<uint32_t> timeoutMs_{0};

    // Never held while waiting for the Broker, so that reading an error does
    // not wait for another thread's dialog.
    std::mutex errorLock_;
    std::map<std::thread::id, Error> errors_;
};

// The Broker mailbroker_start runs when the caller names none: the
// environment's MAILBROKER_BROKER, else the installed one.
std::string defaultBrokerPath();
