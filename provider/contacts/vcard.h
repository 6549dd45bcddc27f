// A reader for vCard 3.0 and 4.0 text: unfolds lines, splits groups,
// parameters (quoted values, RFC 6868 caret escapes, 3.0's bare type names)
// and values, and undoes the text escapes of the properties it keeps.
//
// Kept per card: VERSION, UID, FN, EMAIL (preferred first), KIND (4.0) or
// X-ADDRESSBOOKSERVER-KIND (3.0), MEMBER or X-ADDRESSBOOKSERVER-MEMBER, and
// X-MAILBROKER-X500, which makes the card an Exchange-type entry (see
// README). Everything else is read over and dropped.
//
// A card that cannot be read (a line without ':', an unterminated quote, a
// nested BEGIN, a missing END, no or an unsupported VERSION, text that is not
// UTF-8 or holds NUL) is skipped with a problem noted, and reading goes on
// with the next card.
//
// An EMAIL value (after undoing quoted-printable, which older exporters
// use, and the text escapes) that is not a one-line e-mail address (see
// provider/com/address_check.h), or an X-MAILBROKER-X500 value holding a
// control character, is left out with a problem noted; the rest of the card
// stays.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mb::provider {

struct VCard {
    std::string version;  // "3.0" or "4.0"
    std::string uid;      // as written, "urn:uuid:" included
    std::string fn;
    std::vector<std::string> emails;   // the preferred one first
    bool group = false;                // KIND:group
    std::vector<std::string> members;  // member URIs as written
    std::string x500;                  // non-empty: an Exchange-type entry
    std::size_t line = 0;              // where BEGIN:VCARD stands, from 1
};

struct VCardParse {
    std::vector<VCard> cards;
    std::vector<std::string> problems;  // "line N: what": skipped cards, left-out values
};

VCardParse parseVCards(std::string_view text);

// Undoes the text escapes \\ \, \; \: and \n (either case).
std::string unescapeText(std::string_view value);

}  // namespace mb::provider
