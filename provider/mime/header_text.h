// SPDX-License-Identifier: MIT
// One header field as the renderer writes it: our own RFC 2047 words and
// folding rather than GMime's, so that every reader decodes the field to
// exactly the text the caller wrote.
//
// What the readers taught us:
// - a run of base64 words with '=' padding inside it loses words in GMime's
//   decoder, which joins the words of a run before decoding them, so every
//   word of a run but the last encodes a multiple of 3 bytes (or is
//   Q-encoded when that cannot be, or is shorter);
// - text that merely looks like an encoded word ("=?...?=") is decoded by
//   readers into something else, so any word holding "=?" is encoded;
// - words are labelled utf-8 whatever the text, never iso-8859-1.
// Lines are folded at blanks to 78 characters where the words allow, and
// never reach 998.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mb::mime {

class HeaderField {
  public:
    // Starts "Name:".
    explicit HeaderField(std::string_view name);

    // Free text (a subject): plain where readers see it as it is, encoded
    // words elsewhere. Blanks at either end are dropped.
    void text(std::string_view utf8);

    // A display name or group name: atoms, one quoted string, one encoded
    // word, or encoded words inside one quoted string. Blanks at either end
    // are dropped.
    void phrase(std::string_view utf8);

    // An indivisible token after a blank, on a new line when it does not fit.
    void token(std::string_view ascii);

    // Text that follows the last token directly (",", ";", ":").
    void append(std::string_view ascii);

    // The field with its final newline.
    std::string finish() &&;

  private:
    void words(std::string_view utf8);
    void encodedRun(std::string_view utf8);

    std::string out_;
    std::size_t line_ = 0;      // characters on the current line
    bool anyToken_ = false;     // whether the field holds a token yet
};

// The RFC 2231 value of a parameter (filename*=, or filename*0*= and on),
// utf-8, as `; name*...` segments each on a line of its own; plain and quoted
// when the value is short printable ASCII with nothing a reader would decode.
std::string parameter(std::string_view name, std::string_view utf8);

// An RFC 2047 value for a parameter that old readers take only that way (the
// Content-Type name): `; name="..."`, encoded words inside the quotes; as
// parameter() when the text holds "=?" or '"', which such readers decode
// into something else.
std::string encodedWordParameter(std::string_view name, std::string_view utf8);

}  // namespace mb::mime
