#include "provider/transport/retry_schedule.h"

#include <charconv>
#include <system_error>

namespace mb::provider {

std::optional<RetrySchedule> parseRetrySchedule(std::string_view text) {
    const std::size_t lineEnd = text.find('\n');
    const std::string_view line = text.substr(0, lineEnd);
    const char* const end = line.data() + line.size();
    RetrySchedule schedule;
    long long when = 0;
    // from_chars: out-of-range numbers are an error, not undefined.
    const auto [afterCount, countError] = std::from_chars(line.data(), end, schedule.attempts);
    if (countError != std::errc() || afterCount == end || *afterCount != ' ' ||
        schedule.attempts <= 0) {
        return std::nullopt;
    }
    const auto [afterTime, timeError] = std::from_chars(afterCount + 1, end, when);
    if (timeError != std::errc() || afterTime != end) {
        return std::nullopt;
    }
    schedule.next = static_cast<std::time_t>(when);
    return schedule;
}

std::string formatRetrySchedule(const RetrySchedule& schedule) {
    return std::to_string(schedule.attempts) + " " +
           std::to_string(static_cast<long long>(schedule.next)) + "\n";
}

}  // namespace mb::provider
