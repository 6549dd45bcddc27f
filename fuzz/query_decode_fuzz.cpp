// SPDX-License-Identifier: MIT
// Arbitrary bytes as request text: every input decodes or raises the bad-escape
// exception, and a decoded record survives encode then decode unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/query_record.h"
#include "foundation/ks_exception.h"
#include "foundation/ks_string_test_support.h"

namespace {

using ks_test::utf8Of;

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QueryRecord record;
    try {
        record.decode(KsString(reinterpret_cast<const char*>(data), static_cast<int64_t>(size)));
    } catch (const KsException& e) {
        check(utf8Of(e.getMessage()).rfind("bad escape sequence: ", 0) == 0);
        return 0;
    }
    // The round trip holds for a non-empty name and non-empty keys ("%00" decodes
    // to an empty key); decoded texts never hold a NUL.
    if (record.name.isEmpty()) {
        return 0;
    }
    for (const auto& [key, value] : record.params) {
        if (key.isEmpty()) {
            return 0;
        }
    }
    record.escapeOnEncode = 1;
    KsString text = record.encode();
    QueryRecord back;
    back.decode(text);
    check(back.name.equals(record.name));
    check(back.params.size() == record.params.size());
    auto it = back.params.begin();
    for (const auto& [key, value] : record.params) {
        check(it->first.equals(key));
        check(it->second.equals(value));
        ++it;
    }
    return 0;
}
