// SPDX-License-Identifier: MIT
#include "codec/query_record.h"

#include <cstring>

#include "codec/percent_codec.h"

void QueryRecord::decode(const KsString& text) {
    const codec::Utf8Bytes utf8(text);
    const char* bytes = utf8.data();
    const uint64_t length = utf8.size();  // the text ends at its first NUL

    const void* question = std::memchr(bytes, '?', length);
    if (question == nullptr) {
        codec::appendPercentDecodedBytes(name, bytes, length, 0, length);
        return;
    }
    const uint64_t nameEnd = static_cast<uint64_t>(static_cast<const char*>(question) - bytes);
    codec::appendPercentDecodedBytes(name, bytes, length, 0, nameEnd);

    uint64_t fieldStart = nameEnd + 1;
    while (fieldStart <= length) {
        const void* amp = std::memchr(bytes + fieldStart, '&', length - fieldStart);
        const uint64_t fieldEnd =
            amp ? static_cast<uint64_t>(static_cast<const char*>(amp) - bytes) : length;
        if (fieldEnd > fieldStart) {
            const void* eq = std::memchr(bytes + fieldStart, '=', fieldEnd - fieldStart);
            const uint64_t keyEnd =
                eq ? static_cast<uint64_t>(static_cast<const char*>(eq) - bytes) : fieldEnd;
            if (keyEnd > fieldStart) {
                KsString key;
                codec::appendPercentDecodedBytes(key, bytes, length, fieldStart, keyEnd);
                KsString value;
                if (eq != nullptr) {
                    codec::appendPercentDecodedBytes(value, bytes, length, keyEnd + 1, fieldEnd);
                }
                params[key] = std::move(value);
            }
        }
        fieldStart = fieldEnd + 1;
    }
}

KsString QueryRecord::encode() const {
    KsString text;
    // One sizing up front: the name plus 20 units per entry.
    text.assign("");
    text.reserve(name.unitCount() + 20 * params.size() + 1);
    auto put = [this, &text](const KsString& part) {
        if (escapeOnEncode != 0) {
            appendPercentEncoded(text, part);
        } else {
            text.append(part);
        }
    };
    if (!name.isEmpty()) {
        put(name);
        text.appendAscii("?", 1);
    }
    bool first = true;
    for (const auto& [key, value] : params) {
        if (!first) {
            text.appendAscii("&", 1);
        }
        first = false;
        put(key);
        text.appendAscii("=", 1);
        put(value);
    }
    return text;
}
