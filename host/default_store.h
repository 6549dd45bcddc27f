// The default profile's message store, as the client reads it to tell where a
// request left its message.
#pragma once

#include <string>

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
