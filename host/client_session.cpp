// SPDX-License-Identifier: MIT
#include "host/client_session.h"

#include <algorithm>

ClientSession::~ClientSession() {
    // A started Broker ends by itself once this process, its host, has gone.
    if (host_) {
        host_->process().detach();
    }
}

BrokerConnection& ClientSession::connection() {
    if (!connection_) {
        if (!settings_.pipeName.empty()) {
            connection_.emplace(BrokerConnection::open(
                settings_.pipeName, std::min<uint32_t>(settings_.timeoutMs, 5000)));
        } else {
            BrokerHost::Options options;
            options.process.environment = environment_;
            host_.emplace(BrokerHost::start(settings_.brokerPath, options));
            connection_.emplace(host_->connect());
        }
    }
    return *connection_;
}

BrokerConnection::Reply ClientSession::request(const std::string& payload) {
    return connection().request(payload, settings_.timeoutMs);
}

void printValues(const ParamMap& values, std::ostream& out) {
    for (const auto& [key, value] : values) {
        KsString k(key), v(value);
        out << k.utf8View() << '=' << v.utf8View() << '\n';
    }
}
