// The record of one waiting message's retries, <store>/.retry/NAME: one line,
// "<attempts> <next attempt, seconds since 1970>\n". It is written by the
// spooler alone but read back from a folder anything may write into, so the
// reader takes any bytes: whatever is not such a line is no schedule, and the
// message is then due at once, never lost.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace mb::provider {

struct RetrySchedule {
    int attempts = 0;       // failed attempts so far, 1 or more
    std::time_t next = 0;   // when the next attempt is due
    bool operator==(const RetrySchedule&) const = default;
};

// The file's first line read as a schedule (what follows its line end is not
// looked at); nullopt when it is not one: a count that is not a positive int,
// a time that does not fit 64 bits, anything else on the line, a NUL.
std::optional<RetrySchedule> parseRetrySchedule(std::string_view text);

// The file's text for a schedule, which parseRetrySchedule reads back.
std::string formatRetrySchedule(const RetrySchedule& schedule);

}  // namespace mb::provider
