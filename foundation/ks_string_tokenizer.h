// SPDX-License-Identifier: MIT
// Splits a KsString into tokens at any of a set of delimiter units. The
// delimiter ending a token is consumed; delimiters are not skipped before a
// token, so two in a row give an empty token.
#pragma once

#include <cstdint>

#include "foundation/ks_string.h"

class KsStringTokenizer {
  public:
    KsStringTokenizer(const KsString& source, const KsString& delimiters)
        : source_(source), delimiters_(delimiters) {}

    bool hasMoreTokens();
    // The next token; the reference stays valid until the next call. Throws
    // KsException when no token remains.
    const KsString& nextToken();

  private:
    KsString source_;
    KsString delimiters_;
    KsString token_;
    uint64_t position_ = 0;  // UTF-16 units of source_
};
