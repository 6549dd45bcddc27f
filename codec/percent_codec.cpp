// SPDX-License-Identifier: MIT
#include "codec/percent_codec.h"

#include <bit>
#include <cstring>
#include <memory>

#include "foundation/ks_exception.h"

namespace {

constexpr bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
           c == '\'' || c == '(' || c == ')' || c == '*' || c == ',' || c == '-' || c == '.' ||
           c == '/' || c == ':' || c == '_' || c == '~';
}

struct Tables {
    bool unreserved[256];
    int8_t hexValue[256];  // -1 for a byte that is not a hex digit
    constexpr Tables() : unreserved(), hexValue() {
        for (int c = 0; c < 256; ++c) {
            unreserved[c] = isUnreserved(static_cast<unsigned char>(c));
            hexValue[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
                          : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                          : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                                                 : static_cast<int8_t>(-1);
        }
    }
};
constexpr Tables kTables;

[[noreturn]] void throwBadEscape(const char* group, uint64_t n) {
    throw KsException(KsString::concat(KsString("bad escape sequence: "),
                                       KsString(group, static_cast<int64_t>(n))));
}

// The escape group at `p` (at most three bytes, fewer where the text ends),
// validated as the platform's scanf reads "%%%2x": a group whose second byte
// is a blank or a sign goes through the scanner itself, so that every group
// means exactly what it means there.
uint8_t decodeGroup(const char* p, uint64_t n) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (n == 3 && kTables.hexValue[u[2]] >= 0) {
        if (kTables.hexValue[u[1]] >= 0) {
            return static_cast<uint8_t>(kTables.hexValue[u[1]] * 16 + kTables.hexValue[u[2]]);
        }
        // One unit per byte, as the scanner sees the group.
        const WCHAR group[4] = {u[0], u[1], u[2], 0};
        unsigned int value = 0;
        if (swscanf_s(group, WLIT("%%%2x"), &value) == 1 && value <= 255) {
            return static_cast<uint8_t>(value);
        }
    }
    throwBadEscape(p, n);
}

}  // namespace

namespace codec {

Utf8Bytes::Utf8Bytes(const KsString& text) {
    const auto encoding = text.encoding();
    const char* raw = static_cast<const char*>(text.rawData());
    // UTF-8 text, and ANSI text that is well-formed UTF-8 already (what utf8View()
    // would only re-tag), are read in place; anything else is converted in a copy.
    if (raw != nullptr && (encoding == KsString::Encoding::Utf8 ||
                           (encoding == KsString::Encoding::Ansi &&
                            ks::classifyNarrow(raw, text.unitCount()).wellFormed))) {
        data_ = raw;
        size_ = strnlen(raw, text.unitCount());
        return;
    }
    copy_.assign(text);
    data_ = copy_.utf8View();
    size_ = std::strlen(data_);
}

void appendPercentEncodedBytes(KsString& target, const char* bytes, uint64_t n) {
    static constexpr char kHex[] = "0123456789abcdef";
    if (n == 0) {
        return;
    }
    if (target.encoding() == KsString::Encoding::None) {
        target.assign("");  // what appending ASCII to an empty string gives anyway
    }
    target.reserve(target.unitCount() + n + n / 2);
    // Escape into a stack block and hand it over block by block; a block of
    // input never outgrows it, so the inner loop has no bound check.
    char block[3 * 1024];
    for (uint64_t i = 0; i < n;) {
        const uint64_t chunk = n - i < 1024 ? n - i : 1024;
        char* out = block;
        for (uint64_t k = 0; k < chunk; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if (kTables.unreserved[c]) {
                *out++ = static_cast<char>(c);
            } else {
                out[0] = '%';
                out[1] = kHex[c >> 4];
                out[2] = kHex[c & 0xF];
                out += 3;
            }
        }
        target.appendAscii(block, static_cast<uint64_t>(out - block));
        i += chunk;
    }
}

void appendPercentDecodedBytes(KsString& target, const char* text, uint64_t textLength,
                               uint64_t start, uint64_t end) {
    if (end > textLength) {
        end = textLength;
    }
    if (start >= end) {
        return;
    }
    // Decoding never lengthens the text; one more byte for the terminator. Left
    // uninitialised: every byte used is written. The result takes the buffer over.
    const uint64_t capacity = end - start + 1;
    std::unique_ptr<char[]> decoded(new char[capacity]);
    char* out = decoded.get();
    char* firstNul = nullptr;
    const auto* p = reinterpret_cast<const unsigned char*>(text) + start;
    const auto* stop = reinterpret_cast<const unsigned char*>(text) + end;
    const auto* textEnd = reinterpret_cast<const unsigned char*>(text) + textLength;
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    constexpr uint64_t kPercents = 0x2525252525252525ull;
    while (p < stop) {
        if (stop - p >= 8) {
            // Eight bytes copied at once, kept up to the first '%'. The copy
            // never overruns: decoding only shrinks, so `out` trails `p`.
            uint64_t w;
            std::memcpy(&w, p, 8);
            std::memcpy(out, p, 8);
            // 0x80 in exactly the bytes that are '%' (no carries between bytes).
            const uint64_t x = w ^ kPercents;
            const uint64_t percents = ~(((x & kLow7) + kLow7) | x | kLow7);
            if (percents == 0) {
                out += 8;
                p += 8;
                continue;
            }
            const unsigned plain = std::endian::native == std::endian::little
                                       ? static_cast<unsigned>(std::countr_zero(percents)) / 8
                                       : static_cast<unsigned>(std::countl_zero(percents)) / 8;
            out += plain;
            p += plain;
        } else if (*p != '%') {
            *out++ = static_cast<char>(*p++);
            continue;
        }
        const uint64_t available = static_cast<uint64_t>(textEnd - p);
        const int hex =
            available >= 3 ? (kTables.hexValue[p[1]] << 4) | kTables.hexValue[p[2]] : -1;
        // A negative hex value (not a digit) leaves the combination negative.
        const uint8_t byte =
            hex >= 0 ? static_cast<uint8_t>(hex)
                     : decodeGroup(reinterpret_cast<const char*>(p), available < 3 ? available : 3);
        if (byte == 0 && firstNul == nullptr) {
            firstNul = out;
        }
        *out++ = static_cast<char>(byte);
        p += 3;
    }
    // Only an escape can give a NUL (the text ends at its first NUL), and it ends the part.
    const char* last = firstNul != nullptr ? firstNul : out;
    const auto size = static_cast<uint64_t>(last - decoded.get());
    KsString part = KsString::utf8FromNarrow(std::move(decoded), size, capacity);
    if (target.isEmpty()) {
        target = std::move(part);
    } else {
        target.append(part);
    }
}

}  // namespace codec

void appendPercentEncoded(KsString& target, const KsString& text) {
    const codec::Utf8Bytes utf8(text);
    codec::appendPercentEncodedBytes(target, utf8.data(), utf8.size());
}

void appendPercentDecoded(KsString& target, const KsString& text, uint64_t start, uint64_t end) {
    const codec::Utf8Bytes utf8(text);
    codec::appendPercentDecodedBytes(target, utf8.data(), utf8.size(), start, end);
}

uint8_t decodeEscape(const KsString& group) {
    const codec::Utf8Bytes utf8(group);
    return decodeGroup(utf8.data(), utf8.size());
}
