// What a delivery that did not happen means for the queued message.
#pragma once

namespace mb::provider {

enum class FailureKind {
    // A retry may well succeed (4xx, no connection, the time-out): retried on
    // the back-off schedule.
    Temporary,
    // No retry succeeds until the user changes something (a refused login, a
    // certificate that is not trusted, no token): the message stays queued,
    // marked for the user, and is tried again at the next flush or once
    // profiles.ini has changed.
    NeedsAttention,
    // The server refused the message or an address for good: Undeliverable.
    Permanent,
};

}  // namespace mb::provider
