// SPDX-License-Identifier: MIT
// What waits in a profile's store, as the client tells it: why a message
// that was not delivered at once waits (its retry record, written by the
// provider's spooler into <store>/.retry/NAME), why one was refused
// (Undeliverable/NAME.reason), and the `queue` listing of every profile.
// Reads the store and profiles.ini only, which Windows does not have: POSIX
// only, like the `queue` command that lists it.
#pragma once

#include <ctime>
#include <optional>
#include <ostream>
#include <string>

#include "profiles/retry_record.h"

// The retry record of a message in the Outbox, if one can be read.
std::optional<mb::provider::RetryRecord> retryRecordOf(const std::string& storePath,
                                                      const std::string& baseName);

// The first line of an Undeliverable message's .reason file, or empty.
std::string refusalReasonOf(const std::string& storePath, const std::string& baseName);

// "needs attention: REASON" or "not delivered yet (attempt N, next at TIME):
// REASON", for the filed: line and the listing.
std::string describeWaiting(const mb::provider::RetryRecord& record, std::time_t now);

// `mailbroker-client queue`: for each profile of profiles.ini, one line per
// message in its Outbox and Undeliverable folders. Returns the exit code.
int listQueues(std::ostream& out, std::ostream& err, std::time_t now);

// The file:line problem of profiles.ini, or empty when it loads.
std::string profilesProblem();
