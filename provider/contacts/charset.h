// SPDX-License-Identifier: MIT
// Text from cards that name their own character set (CHARSET=ISO-8859-1,
// CHARSET=Windows-1252, ...), as phones and older desktop books still write
// them, turned into the UTF-8 the rest of the provider works in. glibc's
// iconv does the converting; this keeps one converter per character set
// for the length of a file, since a phone export names the same one on
// nearly every line.
#pragma once

#include <iconv.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace mb::provider {

class CharsetDecoder {
  public:
    CharsetDecoder() = default;
    ~CharsetDecoder();
    CharsetDecoder(const CharsetDecoder&) = delete;
    CharsetDecoder& operator=(const CharsetDecoder&) = delete;

    // bytes in charset as UTF-8, or nothing when the name is not one iconv
    // knows (or not a plain name: iconv's "//" suffixes are not the file's
    // to choose) or the bytes are not text in it.
    std::optional<std::string> toUtf8(std::string_view bytes, std::string_view charset);

  private:
    std::map<std::string, iconv_t> open_;  // by upper-case name; (iconv_t)-1 for unknown ones
};

}  // namespace mb::provider
