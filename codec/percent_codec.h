// SPDX-License-Identifier: MIT
// Percent escapes over UTF-8 bytes, as requests and replies carry them.
//
// Unreserved bytes (A-Z a-z 0-9 ! ' ( ) * , - . / : _ ~) travel as themselves;
// every other byte, '+' and the space included, as '%' and two lower-case hex
// digits. Decoding accepts both cases and leaves '+' alone.
#pragma once

#include <cstdint>

#include "foundation/ks_string.h"

// Appends the escaped UTF-8 bytes of `text` to `target`.
void appendPercentEncoded(KsString& target, const KsString& text);

// Decodes bytes [start, end) of `text`'s UTF-8 form (end -1: to the end) and
// appends the result to `target`. An escape group may reach past `end` up to
// the end of the text. The decoded bytes up to the first NUL are taken as
// narrow text (UTF-8 when well-formed, else ANSI) and appended as UTF-8.
// Throws KsException "bad escape sequence: <group>" for a malformed escape.
void appendPercentDecoded(KsString& target, const KsString& text, uint64_t start, uint64_t end);

// The byte value of one escape group: '%' and two hex digits.
uint8_t decodeEscape(const KsString& group);

namespace codec {

// The UTF-8 bytes of a text up to its first NUL, as utf8View() gives them,
// read in place when the text already is UTF-8 and converted in a copy otherwise.
class Utf8Bytes {
  public:
    explicit Utf8Bytes(const KsString& text);
    Utf8Bytes(const Utf8Bytes&) = delete;
    Utf8Bytes& operator=(const Utf8Bytes&) = delete;
    const char* data() const { return data_; }
    uint64_t size() const { return size_; }

  private:
    KsString copy_;
    const char* data_ = "";
    uint64_t size_ = 0;
};

// The same operations on raw UTF-8 bytes, for callers that already hold them.
void appendPercentEncodedBytes(KsString& target, const char* bytes, uint64_t n);
void appendPercentDecodedBytes(KsString& target, const char* text, uint64_t textLength,
                               uint64_t start, uint64_t end);

}  // namespace codec
