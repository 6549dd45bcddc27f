// SPDX-License-Identifier: MIT
// Arbitrary bytes as a waiting message's retry record. Whatever the reader
// takes is written and read back unchanged, within the size the reader
// accepts; and text in the first format ("<count> <time>" on the file's only
// line) is read exactly as a plain reading of that format says.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "profiles/retry_record.h"

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

// The first format by hand: one line, optionally ended by '\n', holding a
// positive int count, one blank and a 64-bit time.
bool firstFormat(std::string_view text, long long& count, long long& when) {
    const std::size_t end = text.find('\n');
    if (end != std::string_view::npos && end + 1 != text.size()) {
        return false;
    }
    const std::string_view line = text.substr(0, end);
    const std::size_t blank = line.find(' ');
    return blank != std::string_view::npos && decimal(line.substr(0, blank), count) && count > 0 &&
           count <= INT_MAX && decimal(line.substr(blank + 1), when);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    mb::provider::RetryRecord record;
    const bool read = mb::provider::parseRetryRecord(text, record);

    long long count = 0, when = 0;
    if (text.rfind("mailbroker-retry ", 0) != 0) {
        const bool expected = firstFormat(text, count, when);
        FUZZ_CHECK(read == expected);
        if (read) {
            FUZZ_CHECK(record.attempts == count && record.next == when);
            FUZZ_CHECK(!record.needsAttention && record.reason.empty() && !record.notified);
        }
    }
    if (!read) {
        return 0;
    }
    FUZZ_CHECK(record.attempts > 0);
    FUZZ_CHECK(record.reason.size() <= mb::provider::kMaxRetryReason);
    FUZZ_CHECK(record.reason.find('\n') == std::string::npos);
    const std::string written = mb::provider::formatRetryRecord(record);
    FUZZ_CHECK(written.size() <= mb::provider::kMaxRetryRecord);
    mb::provider::RetryRecord again;
    FUZZ_CHECK(mb::provider::parseRetryRecord(written, again));
    FUZZ_CHECK(again == record);
    return 0;
}
