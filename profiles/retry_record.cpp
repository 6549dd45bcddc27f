// SPDX-License-Identifier: MIT
#include "profiles/retry_record.h"

#include <sys/stat.h>

#include <charconv>
#include <limits>

#include "base/regular_file.h"

namespace mb::provider {
namespace {

constexpr std::string_view kMagic = "mailbroker-retry ";

template <typename T>
bool parseNumber(std::string_view text, T& out) {
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, out);
    return error == std::errc() && at == end && !text.empty();
}

bool parseLegacy(std::string_view line, RetryRecord& record) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) {
        return false;
    }
    RetryRecord read;
    if (!parseNumber(line.substr(0, blank), read.attempts) || read.attempts <= 0 ||
        !parseNumber(line.substr(blank + 1), read.next)) {
        return false;
    }
    record = read;
    return true;
}

bool parseStamp(std::string_view value, FileStamp& stamp) {
    if (value == "none") {
        stamp = FileStamp{};
        return true;
    }
    const std::size_t blank = value.find(' ');
    return blank != std::string_view::npos && parseNumber(value.substr(0, blank), stamp.mtimeNs) &&
           parseNumber(value.substr(blank + 1), stamp.size) && stamp.size >= 0;
}

bool parseFlag(std::string_view value, bool& flag) {
    if (value != "yes" && value != "no") {
        return false;
    }
    flag = value == "yes";
    return true;
}

}  // namespace

std::string oneLineText(std::string_view text, std::size_t maxBytes) {
    std::string line;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool control = byte < 0x20 || byte == 0x7F;
        if (control || c == ' ') {
            if (!line.empty() && line.back() != ' ') {
                line.push_back(' ');
            }
        } else {
            line.push_back(c);
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    if (line.size() > maxBytes) {
        std::size_t cut = maxBytes;
        // Back to the start of a UTF-8 sequence, so no character is halved.
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        line.resize(cut);
    }
    return line;
}

bool parseRetryRecord(std::string_view text, RetryRecord& record) {
    const std::size_t firstEnd = text.find('\n');
    const std::string_view first = text.substr(0, firstEnd);
    if (first.substr(0, kMagic.size()) != kMagic) {
        // The first format: the whole file is one line.
        if (firstEnd != std::string_view::npos && firstEnd + 1 != text.size()) {
            return false;
        }
        return parseLegacy(first, record);
    }
    int version = 0;
    if (!parseNumber(first.substr(kMagic.size()), version) || version < 2) {
        return false;
    }
    RetryRecord read;
    bool haveAttempts = false, haveNext = false;
    std::size_t at = firstEnd == std::string_view::npos ? text.size() : firstEnd + 1;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty()) {
            continue;
        }
        const std::size_t blank = line.find(' ');
        const std::string_view key = line.substr(0, blank);
        const std::string_view value =
            blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        bool ok = true;
        if (key == "attempts") {
            ok = parseNumber(value, read.attempts) && read.attempts > 0;
            haveAttempts = true;
        } else if (key == "next") {
            ok = parseNumber(value, read.next);
            haveNext = true;
        } else if (key == "state") {
            ok = value == "waiting" || value == "attention";
            read.needsAttention = value == "attention";
        } else if (key == "reason") {
            read.reason = oneLineText(value, kMaxRetryReason);
        } else if (key == "profiles") {
            ok = parseStamp(value, read.profiles);
        } else if (key == "notified") {
            ok = parseFlag(value, read.notified);
        }
        if (!ok) {
            return false;
        }
    }
    if (!haveAttempts || !haveNext) {
        return false;
    }
    record = std::move(read);
    return true;
}

std::string formatRetryRecord(const RetryRecord& record) {
    std::string text = "mailbroker-retry " + std::to_string(kRetryRecordVersion) + "\n";
    text += "attempts " + std::to_string(record.attempts > 0 ? record.attempts : 1) + "\n";
    text += "next " + std::to_string(record.next) + "\n";
    text += std::string("state ") + (record.needsAttention ? "attention" : "waiting") + "\n";
    const std::string reason = oneLineText(record.reason, kMaxRetryReason);
    if (!reason.empty()) {
        text += "reason " + reason + "\n";
    }
    text += "profiles " +
            (record.profiles.size < 0 ? std::string("none")
                                      : std::to_string(record.profiles.mtimeNs) + " " +
                                            std::to_string(record.profiles.size)) +
            "\n";
    text += std::string("notified ") + (record.notified ? "yes" : "no") + "\n";
    return text;
}

bool readRetryRecord(const std::string& path, RetryRecord& record) {
    std::string text;
    return readRegularFile(path, kMaxRetryRecord, text) == 0 && parseRetryRecord(text, record);
}

FileStamp stampOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return FileStamp{};
    }
    return FileStamp{static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                         info.st_mtim.tv_nsec,
                     static_cast<std::int64_t>(info.st_size)};
}

}  // namespace mb::provider
