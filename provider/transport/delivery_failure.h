// SPDX-License-Identifier: MIT
// Why a delivery did not happen, sorted by what can fix it.
//
// - Temporary: the network, the server's 4xx, a time-out, a program that could
//   not run this time. Waiting helps: the spooler retries on its back-off.
// - NeedsAttention: only the user can fix it: the server refused the login
//   (530, 534, 535), the certificate is not trusted or does not match the
//   pinned fingerprint, no password or token could be had. Retrying on a
//   schedule only repeats the refusal (and may lock the account), so the
//   message waits, marked, until the user flushes or changes profiles.ini.
// - Permanent: the message itself is refused (5xx to MAIL, RCPT or DATA, a
//   bad address); it goes to Undeliverable.
//
// The reason is one line for the log, the retry record and the client; it
// never holds a password, a token or any other secret.
#pragma once

#include <string>
#include <utility>

namespace mb::provider {

struct DeliveryFailure {
    enum class Kind { Temporary, NeedsAttention, Permanent };

    Kind kind = Kind::Temporary;
    std::string reason;

    static DeliveryFailure temporary(std::string why) { return {Kind::Temporary, std::move(why)}; }
    static DeliveryFailure needsAttention(std::string why) {
        return {Kind::NeedsAttention, std::move(why)};
    }
    static DeliveryFailure permanent(std::string why) { return {Kind::Permanent, std::move(why)}; }
};

// "temporary", "needs attention" or "permanent".
inline const char* kindName(DeliveryFailure::Kind kind) {
    switch (kind) {
        case DeliveryFailure::Kind::Temporary:
            return "temporary";
        case DeliveryFailure::Kind::NeedsAttention:
            return "needs attention";
        case DeliveryFailure::Kind::Permanent:
            return "permanent";
    }
    return "temporary";
}

}  // namespace mb::provider
