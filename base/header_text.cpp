// SPDX-License-Identifier: MIT
#include "base/header_text.h"

#include <strings.h>

#include <cctype>
#include <cstdint>
#include <optional>

namespace mb {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

std::optional<std::string> decodeBase64(const std::string& in) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : in) {
        if (c == '=') {
            break;
        }
        size_t v = alphabet.find(c);
        if (v == std::string::npos) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            out += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if (count == 1) {
        return std::nullopt;
    }
    if (count >= 2) {
        out += static_cast<char>(bits >> (count == 2 ? 4 : 10));
    }
    if (count == 3) {
        out += static_cast<char>(bits >> 2);
    }
    return out;
}

std::optional<std::string> decodeQ(const std::string& in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '_') {
            out += ' ';
        } else if (in[i] == '=') {
            if (i + 2 >= in.size() || hexDigit(in[i + 1]) < 0 || hexDigit(in[i + 2]) < 0) {
                return std::nullopt;
            }
            out += static_cast<char>(hexDigit(in[i + 1]) * 16 + hexDigit(in[i + 2]));
            i += 2;
        } else {
            out += in[i];
        }
    }
    return out;
}

std::string latin1ToUtf8(const std::string& in) {
    std::string out;
    for (unsigned char c : in) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// One encoded word "=?charset?enc?text?=" starting at `at`; its decoded text
// and the position after it, or nothing when it is not one this reader decodes.
std::optional<std::string> encodedWord(const std::string& raw, size_t at, size_t* next) {
    if (raw.compare(at, 2, "=?") != 0) {
        return std::nullopt;
    }
    size_t q1 = raw.find('?', at + 2);
    size_t q2 = q1 == std::string::npos ? q1 : raw.find('?', q1 + 1);
    size_t end = q2 == std::string::npos ? q2 : raw.find("?=", q2 + 1);
    if (end == std::string::npos || q2 != q1 + 2) {
        return std::nullopt;
    }
    std::string charset = raw.substr(at + 2, q1 - at - 2);
    charset = charset.substr(0, charset.find('*'));  // RFC 2231 language suffix
    std::string payload = raw.substr(q2 + 1, end - q2 - 1);
    char enc = static_cast<char>(std::toupper(static_cast<unsigned char>(raw[q1 + 1])));
    std::optional<std::string> bytes = enc == 'B'   ? decodeBase64(payload)
                                       : enc == 'Q' ? decodeQ(payload)
                                                    : std::nullopt;
    if (!bytes) {
        return std::nullopt;
    }
    *next = end + 2;
    if (strcasecmp(charset.c_str(), "utf-8") == 0 || strcasecmp(charset.c_str(), "us-ascii") == 0) {
        return bytes;
    }
    if (strcasecmp(charset.c_str(), "iso-8859-1") == 0) {
        return latin1ToUtf8(*bytes);
    }
    return std::nullopt;
}

}  // namespace

std::string decodeHeaderText(const std::string& raw) {
    std::string out;
    std::string pendingBlank;  // dropped when it only separates two encoded words
    bool lastWasEncoded = false;
    for (size_t i = 0; i < raw.size();) {
        size_t next = 0;
        if (std::optional<std::string> word = encodedWord(raw, i, &next)) {
            out += lastWasEncoded ? "" : pendingBlank;
            out += *word;
            pendingBlank.clear();
            lastWasEncoded = true;
            i = next;
        } else if (raw[i] == ' ' || raw[i] == '\t') {
            pendingBlank += raw[i++];
        } else {
            out += pendingBlank;
            pendingBlank.clear();
            out += raw[i++];
            lastWasEncoded = false;
        }
    }
    out += pendingBlank;
    for (char& c : out) {
        if (c == '\t') {
            c = ' ';
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return out;
}

}  // namespace mb
