// SPDX-License-Identifier: MIT
// The delivery record of one queued message: <store>/.retry/<message name>.
//
// The spooler writes it when a delivery fails and removes it when the
// message leaves the Outbox; mailbroker-client reads it to say why a
// message waits. It is text, one "key value" per line after a version line:
//
//   mailbroker-retry 2
//   attempts 3                 failed attempts so far, 1 or more
//   next 1733750000            epoch seconds of the next attempt
//   state waiting              waiting (back-off) or attention (waits for the user)
//   reason 535 5.7.8 ...       the last failure, one line, at most 1000 bytes
//   profiles 1733749000123456789 812   profiles.ini's mtime (ns) and size when
//                              the failure was noted, or "none" without a file
//   notified yes               the desktop has been told (yes or no)
//
// Keys may come in any order; unknown keys are skipped, so that a later
// version can add some. The first format, one line "<attempts> <next>", is
// still read (state waiting, no reason). A record that cannot be read makes
// the message due at once, never lost.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mb::provider {

inline constexpr int kRetryRecordVersion = 2;
inline constexpr std::size_t kMaxRetryReason = 1000;
inline constexpr std::size_t kMaxRetryRecord = 8192;

// profiles.ini as it was: modification time and size; size -1 for no file.
struct FileStamp {
    std::int64_t mtimeNs = 0;
    std::int64_t size = -1;
    bool operator==(const FileStamp&) const = default;
};

struct RetryRecord {
    int attempts = 1;
    std::int64_t next = 0;
    bool needsAttention = false;
    std::string reason;
    FileStamp profiles;
    bool notified = false;

    bool operator==(const RetryRecord&) const = default;
};

// False when text is neither format, or a value is out of range.
bool parseRetryRecord(std::string_view text, RetryRecord& record);

// The current format; the reason made one line and cut to kMaxRetryReason.
std::string formatRetryRecord(const RetryRecord& record);

// Reads the record file (a regular file of at most kMaxRetryRecord bytes).
bool readRetryRecord(const std::string& path, RetryRecord& record);

// The stamp of a file now (size -1 when it cannot be found).
FileStamp stampOf(const std::string& path);

// Text as one line for a record or a listing: control characters become
// blanks, runs of blanks one, cut at maxBytes on a UTF-8 boundary.
std::string oneLineText(std::string_view text, std::size_t maxBytes);

}  // namespace mb::provider
