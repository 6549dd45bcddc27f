// SPDX-License-Identifier: MIT
// Whether a text may stand as an SMTP address anywhere in the provider: in a
// recipient's header, as an RCPT TO path, as a value handed back to the host.
//
// Addresses come from vCard files, UI scripts and the host's own request
// texts, and every one of them ends up inside a header line or an SMTP
// command. A line break or other control character inside one would let the
// text add a recipient (or a command) nobody chose, so an address is one line
// of an RFC 5322 addr-spec (dot-atom or quoted-string local part, dot-atom or
// domain-literal domain), UTF-8 allowed as RFC 6532 allows it, no C0 or C1
// control character, and short enough for RFC 5321: a local part of at most
// 64 octets and a path ("<" address ">") of at most 256.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mb::provider {

enum class AddressProblem {
    None,
    ControlCharacter,  // C0, DEL, C1, or a Unicode line or paragraph separator
    NotUtf8,
    Malformed,         // not an addr-spec
    TooLong,           // local part over 64 octets, or path over 256
};

inline constexpr std::size_t kMaxLocalPart = 64;
inline constexpr std::size_t kMaxPath = 256;  // "<" + address + ">"

AddressProblem checkAddress(std::string_view address);

// Whether text holds a control character (as checkAddress counts them) or
// is not UTF-8: what no single-line text of a recipient may hold.
AddressProblem checkLineText(std::string_view text);

// text on one line: each control character (as checkLineText counts them)
// becomes a blank. For display names, which a host may get back in place
// of an address.
std::string singleLine(std::string_view text);

// A short English description ("holds a control character", ...).
const char* describeAddressProblem(AddressProblem problem);

// The address as it may appear in a log line: control characters as \xNN,
// at most about 80 bytes.
std::string printableAddress(std::string_view address);

}  // namespace mb::provider
