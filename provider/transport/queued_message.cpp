// SPDX-License-Identifier: MIT
#include "provider/transport/queued_message.h"

#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>

namespace mb::provider {
namespace {

// Reads the header block, through its blank line, into block.
bool readHeaderBlock(int fd, std::string& block) {
    char chunk[8192];
    off_t offset = 0;
    for (;;) {
        ssize_t got = ::pread(fd, chunk, sizeof chunk, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        const std::size_t searchFrom = block.size() >= 3 ? block.size() - 3 : 0;
        block.append(chunk, static_cast<std::size_t>(got));
        offset += got;
        const std::size_t lf = block.find("\n\n", searchFrom);
        const std::size_t crlf = block.find("\n\r\n", searchFrom);
        if (lf != std::string::npos || crlf != std::string::npos) {
            block.resize(crlf < lf ? crlf + 3 : lf + 2);
        }
        if (block.size() > kMaxHeaderBlock) {
            errno = EMSGSIZE;
            return false;
        }
        if (lf != std::string::npos || crlf != std::string::npos || got == 0) {
            return true;  // got == 0: all header, no body
        }
    }
}

struct Field {
    std::string name;
    std::string raw;  // the whole field with its line ends
};

std::vector<Field> splitFields(const std::string& block) {
    std::vector<Field> fields;
    std::size_t at = 0;
    while (at < block.size()) {
        std::size_t end = block.find('\n', at);
        end = end == std::string::npos ? block.size() : end + 1;
        const bool continuation = block[at] == ' ' || block[at] == '\t';
        if (continuation && !fields.empty()) {
            fields.back().raw.append(block, at, end - at);
        } else {
            Field field;
            field.raw.assign(block, at, end - at);
            const std::size_t colon = field.raw.find(':');
            if (colon != std::string::npos) {
                field.name = field.raw.substr(0, colon);
                while (!field.name.empty() &&
                       (field.name.back() == ' ' || field.name.back() == '\t')) {
                    field.name.pop_back();
                }
            }
            fields.push_back(std::move(field));
        }
        at = end;
    }
    return fields;
}


// The whole name, without case: a NUL inside a field's name is part of it, so
// "To\0x" is not To.
bool named(const Field& field, std::string_view name) {
    return field.name.size() == name.size() &&
           std::equal(name.begin(), name.end(), field.name.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool isPrivate(const Field& field) {
    return strncasecmp(field.name.c_str(), "X-Mailbroker-", 13) == 0;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The field's value unfolded, tabs as blanks, without surrounding blanks.
std::string valueOf(const Field& field) {
    std::string value;
    for (char c : field.raw.substr(field.raw.find(':') + 1)) {
        if (c != '\r' && c != '\n') {
            value.push_back(c == '\t' ? ' ' : c);
        }
    }
    return trimmed(value);
}

// Words apart: a display name without its address, not an address.
bool spacedOutsideQuotes(const std::string& text) {
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            return true;
        }
    }
    return false;
}

// Two spellings of one mailbox: the domain is case-blind, the local part
// need not be.
std::string mailboxKey(const std::string& address) {
    std::string key = address;
    const std::size_t at = key.rfind('@');
    for (std::size_t i = at == std::string::npos ? key.size() : at + 1; i < key.size(); ++i) {
        key[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[i])));
    }
    return key;
}

}  // namespace

std::vector<std::string> addressesOf(const std::string& value) {
    std::vector<std::string> out;
    std::string bare;
    std::string angle;
    bool hasAngle = false;
    auto finish = [&] {
        std::string address = hasAngle ? trimmed(angle) : trimmed(bare);
        if (!address.empty() && (hasAngle || !spacedOutsideQuotes(address))) {
            out.push_back(address);
        }
        bare.clear();
        angle.clear();
        hasAngle = false;
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"') {
            // A quoted string: part of an address only as a quoted local part.
            std::string quoted = "\"";
            for (++i; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) {
                    quoted.push_back(value[i++]);
                }
                quoted.push_back(value[i]);
            }
            quoted.push_back('"');
            (hasAngle ? angle : bare) += quoted;
        } else if (c == '(') {
            int depth = 1;
            for (++i; i < value.size() && depth > 0; ++i) {
                if (value[i] == '\\') {
                    ++i;
                } else if (value[i] == '(') {
                    ++depth;
                } else if (value[i] == ')') {
                    --depth;
                }
            }
            --i;
        } else if (c == '<') {
            hasAngle = true;
            angle.clear();
            bool inQuotes = false;  // a quoted local part keeps its blanks
            for (++i; i < value.size() && (inQuotes || value[i] != '>'); ++i) {
                if (inQuotes && value[i] == '\\' && i + 1 < value.size()) {
                    angle.push_back(value[i++]);
                    angle.push_back(value[i]);
                    continue;
                }
                inQuotes = value[i] == '"' ? !inQuotes : inQuotes;
                if (inQuotes || (value[i] != ' ' && value[i] != '\t')) {
                    angle.push_back(value[i]);
                }
            }
        } else if (c == ',' || c == ';') {
            finish();
        } else if (c == ':') {
            bare.clear();  // a group's display name
        } else {
            bare.push_back(c);
        }
    }
    finish();
    return out;
}

bool readQueuedMessage(int fd, QueuedMessage& message, std::string& error) {
    std::string block;
    if (!readHeaderBlock(fd, block)) {
        const int why = errno;
        error = why == EMSGSIZE
                    ? "header block longer than " + std::to_string(kMaxHeaderBlock) + " bytes"
                    : std::string("cannot be read: ") + std::strerror(why);
        errno = why;  // the caller tells an oversized block from a read error
        return false;
    }
    message = QueuedMessage{};
    std::set<std::string> seen;
    for (const Field& field : splitFields(block)) {
        if (named(field, "X-Mailbroker-Submitted")) {
            message.submitted = valueOf(field) == "yes";
        } else if (named(field, "X-Mailbroker-Sent-Folder")) {
            message.sentFolder = valueOf(field);
        } else if (named(field, "Subject")) {
            message.subject = valueOf(field);
        } else if (named(field, "To") || named(field, "Cc") || named(field, "Bcc")) {
            // One RCPT per mailbox, however often To, Cc, Bcc and the lists
            // in them name it.
            for (std::string& address : addressesOf(valueOf(field))) {
                if (seen.insert(mailboxKey(address)).second) {
                    message.recipients.push_back(std::move(address));
                }
            }
        }
    }
    return true;
}

bool OutgoingStream::fill() {
    std::string raw;
    if (!started_) {
        started_ = true;
        if (!readHeaderBlock(fd_, raw)) {
            return false;
        }
        offset_ = static_cast<off_t>(raw.size());
        std::string kept;
        for (const Field& field : splitFields(raw)) {
            if (!isPrivate(field) && (keepBcc_ || !named(field, "Bcc"))) {
                kept += field.raw;
            }
        }
        raw = std::move(kept);
    } else {
        raw.resize(65536);
        ssize_t got;
        do {
            got = ::pread(fd_, raw.data(), raw.size(), offset_);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            return false;
        }
        raw.resize(static_cast<std::size_t>(got));
        offset_ += got;
        atEnd_ = got == 0;
    }
    ready_.clear();
    ready_.reserve(raw.size() + raw.size() / 16);
    taken_ = 0;
    if (!crlf_) {
        ready_ = std::move(raw);
        return true;
    }
    // SMTP knows only CRLF: a bare LF or a bare CR is a line break too, and
    // a CR alone must never reach the wire. A CR at the end of one chunk
    // waits for the next, which may start with its LF.
    for (char c : raw) {
        if (pendingCr_) {
            ready_.append("\r\n");
            pendingCr_ = false;
            if (c == '\n') {
                continue;
            }
        }
        if (c == '\r') {
            pendingCr_ = true;
        } else if (c == '\n') {
            ready_.append("\r\n");
        } else {
            ready_.push_back(c);
        }
    }
    if (atEnd_ && pendingCr_) {
        ready_.append("\r\n");
        pendingCr_ = false;
    }
    return true;
}

ssize_t OutgoingStream::read(char* buffer, std::size_t size) {
    while (taken_ == ready_.size()) {
        if (atEnd_) {
            return 0;
        }
        if (!fill()) {
            return -1;
        }
    }
    const std::size_t count = std::min(size, ready_.size() - taken_);
    std::memcpy(buffer, ready_.data() + taken_, count);
    taken_ += count;
    return static_cast<ssize_t>(count);
}

}  // namespace mb::provider
