// Arbitrary bytes as a message's retry record. The reader agrees with a plain
// reading of the format (count, one blank, time, on the first line; both
// decimal, the count a positive int, the time a 64-bit number), and what it
// reads is written and read back unchanged.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "provider/transport/retry_schedule.h"

namespace {

// An optional '-', then one digit or more, the whole of text; its value if it
// fits a long long.
bool decimal(std::string_view text, long long& value) {
    const std::string_view digits = text.substr(!text.empty() && text[0] == '-' ? 1 : 0);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    const std::string copy(text);
    errno = 0;
    value = std::strtoll(copy.c_str(), nullptr, 10);
    return errno != ERANGE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto schedule = mb::provider::parseRetrySchedule(text);

    const std::string_view line = text.substr(0, text.find('\n'));
    const size_t blank = line.find(' ');
    long long count = 0, when = 0;
    const bool expected = blank != std::string_view::npos && decimal(line.substr(0, blank), count) &&
                          count > 0 && count <= INT_MAX && decimal(line.substr(blank + 1), when);
    FUZZ_CHECK(schedule.has_value() == expected);
    if (!schedule) {
        return 0;
    }
    FUZZ_CHECK(schedule->attempts == count);
    FUZZ_CHECK(schedule->next == static_cast<std::time_t>(when));
    const std::string written = mb::provider::formatRetrySchedule(*schedule);
    FUZZ_CHECK(written.size() <= 64);
    FUZZ_CHECK(mb::provider::parseRetrySchedule(written) == schedule);
    return 0;
}
