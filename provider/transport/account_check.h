// SPDX-License-Identifier: MIT
// `mailbroker-client check`: reach the profile's server as delivery would
// (connect, greeting, TLS, login), say NOOP and QUIT, sending no message;
// report each step and exactly which one failed and why. It runs as
// mailbroker-check, a program beside the Broker, since the client includes
// nothing of the provider.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "profiles/profiles.h"

namespace mb::provider {

struct CheckStep {
    std::string name;  // "connect", "greeting", "tls", "login", "noop", ...
    enum class State { Ok, Failed, Skipped } state = State::Ok;
    std::string detail;
};

struct CheckReport {
    std::vector<CheckStep> steps;
    bool ok() const;
};

// What libcurl showed of one session, read into steps: the commands we sent,
// the replies and libcurl's notes. Pure, for the tests.
struct CheckTrace {
    bool connected = false;
    bool greeted = false;
    std::string greeting;
    bool starttlsSent = false;
    bool tlsUp = false;
    std::string tlsVersion;
    std::string authMechanism;  // from the AUTH command, empty when none was sent
    bool authOk = false;
    bool noopSent = false;
    bool noopOk = false;
    std::vector<std::string> lastReplies;
};

// Steps from a trace and libcurl's result (code 0: success; text: the reason,
// credentials already removed); implicitTls: smtps.
CheckReport readCheck(const CheckTrace& trace, int curlCode, bool implicitTls,
                      const std::string& text);

// Runs the check for a profile within timeout.
CheckReport checkAccount(const Profile& profile, std::chrono::seconds timeout);

// The report as lines; returns the exit code (0 all well, 6 a step failed).
int printCheck(const Profile& profile, const CheckReport& report, std::ostream& out);

}  // namespace mb::provider
