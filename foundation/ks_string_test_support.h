// SPDX-License-Identifier: MIT
// What tests of KsString and of its users share: a text's UTF-8 bytes, and an
// exception's message, as std::string for comparisons and failure output.
#pragma once

#include <string>

#include "foundation/ks_exception.h"
#include "foundation/ks_string.h"

namespace ks_test {

// The view first: it sets the count that the length then reads.
inline std::string utf8Of(KsString s) {
    const char* bytes = s.utf8View();
    return std::string(bytes, s.unitCount());
}

inline std::string messageOf(const KsException& e) {
    return utf8Of(e.getMessage());
}

}  // namespace ks_test
