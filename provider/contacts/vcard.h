// SPDX-License-Identifier: MIT
// A reader for vCard 2.1, 3.0 and 4.0 text as phones, desktop and web
// address books export it: lines may end in CR, LF, CRLF or CRCRLF (a bare
// CR ends a line too); it unfolds lines (2.1 keeps the folding blank, as its
// folding happens at a blank), joins quoted-printable soft breaks and 2.1's
// unindented base64 lines, splits groups, parameters (quoted values, RFC 6868
// caret escapes, bare type names such as EMAIL;PREF;INTERNET) and values,
// and undoes the text escapes of the properties it keeps. Values with a
// CHARSET parameter are converted to UTF-8; a 2.1 value without one that is
// not UTF-8 is taken as Windows-1252, which is what such exports hold.
//
// Kept per card: VERSION, UID, FN (every one; the first, or in 4.0 the one
// with the lowest PREF, is the name shown), N (the name shown when there is
// no FN), EMAIL (preferred first), KIND (4.0) or X-ADDRESSBOOKSERVER-KIND
// (3.0), MEMBER or X-ADDRESSBOOKSERVER-MEMBER, and X-MAILBROKER-X500, which
// makes the card an Exchange-type entry (see README). Everything else is
// read over and dropped.
//
// A line that cannot be read (no ':', an unterminated quote) is skipped with
// a problem noted that shows it (the first hundred of a file; the rest are
// counted in one more problem), and the card keeps its other lines. A card
// that cannot be read (a nested BEGIN, a missing END, no or an unsupported
// VERSION, text that is not UTF-8 or holds NUL) is skipped with a problem
// noted, and reading goes on with the next card. A value whose CHARSET is
// unknown, or that is not text in it, is left out with a problem noted.
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
    std::string version;  // "2.1", "3.0" or "4.0"
    std::string uid;      // as written, "urn:uuid:" included
    std::string fn;       // the name shown: the chosen FN, else one made from N
    std::vector<std::string> otherNames;  // the card's other FN texts, in file order
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
