// SPDX-License-Identifier: MIT
// The Broker one mailbroker-client run talks to: started beside the client (or
// given with --broker), or reached on a pipe another host already serves.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "codec/param_map.h"
#include "host/broker_connection.h"
#include "host/broker_host.h"

struct ClientSettings {
    std::string brokerPath;
    std::string pipeName;  // set: talk to a running Broker instead of starting one
    // No limit unless --timeout sets one: every request logs on, and any of
    // them may be waiting on a person in a dialog (the profile chooser, Check
    // Names, the address book, the compose window) for as long as they like.
    uint32_t timeoutMs = INFINITE;
};

class ClientSession {
  public:
    explicit ClientSession(const ClientSettings& settings) : settings_(settings) {}
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // Started or reached on first need; throws HostError.
    BrokerConnection& connection();
    // One request on that connection, within the reply time-out.
    BrokerConnection::Reply request(const std::string& payload);
    // "NAME=value" for the Broker this session starts (none for --pipe).
    void setBrokerEnvironment(const std::string& entry) { environment_.push_back(entry); }
    const ClientSettings& settings() const { return settings_; }

  private:
    const ClientSettings& settings_;
    std::vector<std::string> environment_;
    std::optional<BrokerHost> host_;
    std::optional<BrokerConnection> connection_;
};

// A reply's fields as "key=value" lines, in key order.
void printValues(const ParamMap& values, std::ostream& out);
