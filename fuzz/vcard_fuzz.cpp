// SPDX-License-Identifier: MIT
// Arbitrary bytes as a vCard file: every file parses without a fault, and the
// cards it gives are text the rest of the provider can use (UTF-8 without
// NUL, addresses that pass the address check). Each card is then rendered as
// a 4.0 card of our own (escaped, folded at 75 octets, quoted-printable where
// a name holds a CR) and parsed again: the same cards, with no problem noted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "provider/com/address_check.h"
#include "provider/contacts/vcard.h"

namespace {

using mb::provider::VCard;

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case ',':
                out += "\\,";
                break;
            case ';':
                out += "\\;";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string quotedPrintable(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b > 32 && b < 127 && c != '=') {
            out.push_back(c);
        } else {
            out += {'=', kHex[b >> 4], kHex[b & 15]};
        }
    }
    return out;
}

// One content line, folded: no physical line over 75 octets, never inside a
// UTF-8 sequence, each continuation starting with the blank 4.0 removes.
std::string folded(const std::string& line) {
    std::string out;
    size_t width = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(line[i]) & 0xC0) == 0x80;
        if (width >= 74 && !continuation) {
            out += "\r\n ";
            width = 1;
        }
        out.push_back(line[i]);
        ++width;
    }
    return out + "\r\n";
}

void textLine(std::string& card, const char* name, const std::string& text) {
    const std::string value = escaped(text);
    if (value.find('\r') != std::string::npos) {
        // Quoted-printable lines are left unfolded: their soft breaks are
        // the exporter's business.
        card += std::string(name) + ";ENCODING=QUOTED-PRINTABLE:" + quotedPrintable(value) + "\r\n";
    } else {
        card += folded(std::string(name) + ":" + value);
    }
}

std::string render(const VCard& c) {
    std::string card = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
    if (!c.uid.empty()) {
        card += folded("UID:" + c.uid);
    }
    if (!c.fn.empty()) {
        textLine(card, "FN", c.fn);
    }
    for (const std::string& name : c.otherNames) {
        textLine(card, "FN", name);
    }
    if (c.group) {
        card += "KIND:group\r\n";
    }
    for (const std::string& email : c.emails) {
        textLine(card, "EMAIL", email);
    }
    for (const std::string& member : c.members) {
        card += folded("MEMBER:" + member);
    }
    if (!c.x500.empty()) {
        textLine(card, "X-MAILBROKER-X500", c.x500);
    }
    return card + "END:VCARD\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const mb::provider::VCardParse parsed = mb::provider::parseVCards(text);
    std::string rendered;
    for (const VCard& card : parsed.cards) {
        FUZZ_CHECK(card.version == "2.1" || card.version == "3.0" || card.version == "4.0");
        FUZZ_CHECK(card.fn.find('\0') == std::string::npos);
        for (const std::string& email : card.emails) {
            FUZZ_CHECK(!email.empty());
            FUZZ_CHECK(mb::provider::checkAddress(email) == mb::provider::AddressProblem::None);
        }
        FUZZ_CHECK(mb::provider::checkLineText(card.x500) == mb::provider::AddressProblem::None);
        rendered += render(card);
    }
    const mb::provider::VCardParse again = mb::provider::parseVCards(rendered);
    if (!again.problems.empty()) {
        std::fprintf(stderr, "%s\n", again.problems.front().c_str());
    }
    FUZZ_CHECK(again.problems.empty());
    FUZZ_CHECK(again.cards.size() == parsed.cards.size());
    for (size_t i = 0; i < parsed.cards.size(); ++i) {
        const VCard& a = parsed.cards[i];
        const VCard& b = again.cards[i];
        FUZZ_CHECK(b.version == "4.0");
        FUZZ_CHECK(b.uid == a.uid);
        FUZZ_CHECK(b.fn == a.fn);
        FUZZ_CHECK(b.otherNames == a.otherNames);
        FUZZ_CHECK(b.emails == a.emails);
        FUZZ_CHECK(b.group == a.group);
        FUZZ_CHECK(b.members == a.members);
        FUZZ_CHECK(b.x500 == a.x500);
    }
    return 0;
}
