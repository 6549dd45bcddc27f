// SPDX-License-Identifier: MIT
// The default profile's message store, as the client reads it to tell where a
// request left its message.
#pragma once

#include <string>

struct StoredMessage;

struct DefaultStore {
    std::string path;  // empty: unknown (then `why` says why) or nothing to tell
    std::string transport;
    std::string why;  // empty with an empty path: this system keeps no store we can read
};

// On POSIX: the default profile of profiles.ini, read as the provider reads
// it (the Broker this client starts inherits the same environment). On
// Windows the system's MAPI keeps its own store, which the client does not
// read: no path and no reason, so nothing is said of where a message went.
DefaultStore defaultStore();

// Why a message the request just filed in the store's Outbox or Undeliverable
// folder waits there (read from the spooler's records), or empty. On Windows
// there is no store of ours to read: always empty.
std::string filingReason(const DefaultStore& store, const StoredMessage& message);

// Where profiles.ini fails to load (file:line), for a reply that says only
// "corrupt data"; empty when it loads, and on Windows, which has no such file.
std::string profilesProblemNote();
