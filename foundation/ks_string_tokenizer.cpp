// SPDX-License-Identifier: MIT
#include "foundation/ks_string_tokenizer.h"

#include "foundation/ks_exception.h"

bool KsStringTokenizer::hasMoreTokens() {
    return position_ < source_.length();
}

const KsString& KsStringTokenizer::nextToken() {
    if (!hasMoreTokens()) {
        throw KsException("KsStringTokenizer::nextToken called with no tokens remaining");
    }
    token_.assign("");
    const uint64_t length = source_.length();
    while (position_ < length) {
        const WCHAR unit = source_.charAt(position_++);
        if (delimiters_.findChar(unit, 0) != KsString::npos) {
            break;
        }
        token_.appendChar(unit);
    }
    return token_;
}
