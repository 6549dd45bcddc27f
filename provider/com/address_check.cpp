// SPDX-License-Identifier: MIT
#include "provider/com/address_check.h"
#include "provider/com/utf8.h"

#include <cstdint>
#include <cstdio>

namespace mb::provider {
namespace {

constexpr std::size_t kMaxShown = 80;

bool isAtextAscii(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
        case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
        case '-': case '/': case '=': case '?': case '^': case '_': case '`': case '{':
        case '|': case '}': case '~':
            return true;
        default:
            return false;
    }
}

bool isControl(std::uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

// dot-atom-text: atext runs joined by single dots. Non-ASCII bytes count as
// atext (RFC 6532's UTF8-non-ascii); their encoding was checked before.
bool isDotAtom(std::string_view s) {
    if (s.empty() || s.front() == '.' || s.back() == '.') {
        return false;
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '.') {
            if (s[i + 1] == '.') {
                return false;
            }
        } else if (c < 0x80 && !isAtextAscii(c)) {
            return false;
        }
    }
    return true;
}

// quoted-string without CFWS around it: qtext, quoted pairs and blanks.
bool isQuotedString(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') {
        return false;
    }
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '\\') {
            if (i + 2 >= s.size()) {
                return false;  // the closing quote would be escaped
            }
            ++i;  // any VCHAR, blank or non-ASCII byte may be quoted
        } else if (c == '"') {
            return false;
        }
    }
    return true;
}

bool isDomainLiteral(std::string_view s) {
    if (s.size() < 2 || s.front() != '[' || s.back() != ']') {
        return false;
    }
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        const char c = s[i];
        if (c == '[' || c == ']' || c == '\\' || c == ' ' || c == '\t') {
            return false;
        }
    }
    return true;
}

}  // namespace

AddressProblem checkLineText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t cp = 0;
        if (!nextCodePoint(text, i, cp)) {
            return AddressProblem::NotUtf8;
        }
        if (isControl(cp)) {
            return AddressProblem::ControlCharacter;
        }
    }
    return AddressProblem::None;
}

std::string singleLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        std::uint32_t cp = 0;
        if (!nextCodePoint(text, i, cp)) {
            out += text[start];  // not UTF-8: left for the caller's own check
            i = start + 1;
            continue;
        }
        if (isControl(cp)) {
            out += ' ';
        } else {
            out.append(text, start, i - start);
        }
    }
    return out;
}

AddressProblem checkAddress(std::string_view address) {
    if (const AddressProblem line = checkLineText(address); line != AddressProblem::None) {
        return line;
    }
    // The '@' that separates is the last one: a quoted local part may hold more.
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos) {
        return AddressProblem::Malformed;
    }
    const std::string_view local = address.substr(0, at);
    const std::string_view domain = address.substr(at + 1);
    if (local.size() > kMaxLocalPart || address.size() + 2 > kMaxPath) {
        return AddressProblem::TooLong;
    }
    if (!(isDotAtom(local) || isQuotedString(local))) {
        return AddressProblem::Malformed;
    }
    if (!(isDotAtom(domain) || isDomainLiteral(domain))) {
        return AddressProblem::Malformed;
    }
    return AddressProblem::None;
}

const char* describeAddressProblem(AddressProblem problem) {
    switch (problem) {
        case AddressProblem::None:
            return "is an address";
        case AddressProblem::ControlCharacter:
            return "holds a line break or another control character";
        case AddressProblem::NotUtf8:
            return "is not UTF-8";
        case AddressProblem::Malformed:
            return "is not an e-mail address (local-part@domain)";
        case AddressProblem::TooLong:
            return "is too long for SMTP (local part over 64 octets or address over 254)";
    }
    return "is not an address";
}

std::string printableAddress(std::string_view address) {
    std::string out;
    for (std::size_t i = 0; i < address.size() && out.size() < kMaxShown; ++i) {
        const auto c = static_cast<unsigned char>(address[i]);
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (out.size() >= kMaxShown && address.size() > kMaxShown) {
        out += "... (" + std::to_string(address.size()) + " bytes)";
    }
    return out;
}

}  // namespace mb::provider
