// SPDX-License-Identifier: MIT
// Splitting a recipient text ("to", "cc", "bcc") into the names and
// addresses to resolve, in place, as the host's users type them:
//
//   Ann; bob@example.org, "Doe, John" <jd@example.org>
//
// ';' and line feeds separate, and so does ',' while the user has not
// turned it off. A ',' or ';' inside a matched pair of double quotes
// (backslash escapes the next character there) or inside <...> does not,
// since a quoted display name or an address may hold one. A '"' or '<'
// without its partner before the next line feed protects nothing, so one
// stray quote cannot swallow the recipients after it. Line feeds always
// separate: a quoted name is one line.
//
// Empty entries (runs of separators) are skipped, as strtok did before.
#pragma once

#include <cstdint>

class RecipientSplitter {
  public:
    // text: NUL-terminated and writable; separators in it become NULs, and
    // the entries point into it.
    RecipientSplitter(char* text, bool commaSeparates);

    // The next entry, or null when there are no more.
    char* next();

    // How many entries a text can give at most: one more than its separator
    // characters, quoted ones counted too, so that it can be had before the
    // text is split and sizes the list the entries go into.
    static uint64_t upperBound(const char* text, bool commaSeparates);

  private:
    bool separator(char c) const;
    // Where the quoted string or bracketed address opening at `open` ends
    // (its closing character), or null when nothing closes it on this line.
    char* closing(char* open);

    char* at_;
    bool comma_;
    // An opener before these has no partner: the line was searched to its
    // end already. Without this, a line of a million '<' would be searched
    // a million times.
    char* quotesOpenTo_;
    char* anglesOpenTo_;
};
