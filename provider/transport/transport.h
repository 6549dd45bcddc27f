// SPDX-License-Identifier: MIT
// How a queued message leaves the machine. A transport is told the message's
// file, its envelope and a time limit, and answers with one outcome; it never
// throws, and no outcome text holds a credential.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "profiles/profiles.h"
#include "provider/transport/delivery_failure.h"

namespace mb::provider {

struct Envelope {
    std::string sender;                   // MAIL FROM
    std::vector<std::string> recipients;  // RCPT TO
};

// Delivered, or failed in one of DeliveryFailure's kinds.
struct DeliveryOutcome {
    enum class Kind { Delivered, Temporary, NeedsAttention, Permanent };
    Kind kind = Kind::Temporary;
    std::string text;  // why it failed, for the log and the Undeliverable folder

    static DeliveryOutcome delivered() { return {Kind::Delivered, {}}; }
    static DeliveryOutcome temporary(std::string why) { return {Kind::Temporary, std::move(why)}; }
    static DeliveryOutcome needsAttention(std::string why) {
        return {Kind::NeedsAttention, std::move(why)};
    }
    static DeliveryOutcome permanent(std::string why) { return {Kind::Permanent, std::move(why)}; }
    static DeliveryOutcome failed(const DeliveryFailure& failure) {
        switch (failure.kind) {
            case DeliveryFailure::Kind::NeedsAttention:
                return needsAttention(failure.reason);
            case DeliveryFailure::Kind::Permanent:
                return permanent(failure.reason);
            case DeliveryFailure::Kind::Temporary:
                break;
        }
        return temporary(failure.reason);
    }
};

class Transport {
  public:
    virtual ~Transport() = default;
    // fd is the queued file, open for reading, positioned anywhere.
    virtual DeliveryOutcome deliver(int fd, const Envelope& envelope,
                                    std::chrono::seconds timeout) = 0;
};

// The profile's transport; null for "none".
std::unique_ptr<Transport> makeTransport(const Profile& profile);

}  // namespace mb::provider
