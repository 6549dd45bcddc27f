// SPDX-License-Identifier: MIT
// Arbitrary bytes as narrow text: the classification agrees with a plain
// reading of the lead/continuation rules, every view and search stays in
// bounds, and the lossless conversions round-trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/ks_exception.h"
#include "foundation/ks_string.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// The classification rules, written as directly as possible.
KsString::Encoding expectedEncoding(const uint8_t* p, size_t n) {
    bool high = false;
    size_t i = 0;
    while (i < n && p[i] != 0) {
        const uint8_t b = p[i++];
        if (b < 0x80) {
            continue;
        }
        high = true;
        int follow = 0;
        for (uint8_t bit = 0x40; (b & bit) != 0 && bit != 0; bit >>= 1) {
            ++follow;
        }
        if (follow == 0 || follow > 5) {
            return KsString::Encoding::Ansi;
        }
        for (int k = 0; k < follow; ++k, ++i) {
            if (i >= n || (p[i] & 0xC0) != 0x80) {
                return KsString::Encoding::Ansi;
            }
        }
    }
    return high ? KsString::Encoding::Utf8 : KsString::Encoding::Ansi;
}

// Strictly valid UTF-8 by Unicode's rules: no overlongs, surrogates or values past U+10FFFF.
bool strictUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<uint8_t>(s[i]);
        size_t len;
        uint32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size()) {
            return false;
        }
        for (size_t k = 1; k < len; ++k) {
            const auto c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += len;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const size_t textLength = strnlen(bytes, size);
    const std::string text(bytes, textLength);

    KsString s(bytes, static_cast<int64_t>(size));
    check(s.encoding() == expectedEncoding(data, size));
    check(s.unitCount() == size);

    // ANSI text round-trips through UTF-16: every byte value maps.
    if (s.encoding() == KsString::Encoding::Ansi) {
        KsString a(s);
        a.wideView();
        const char* back = a.ansiView();
        check(std::string(back, a.unitCount()) == text);
    }
    // Strict UTF-8 round-trips through UTF-16.
    if (strictUtf8(text)) {
        KsString u(text.c_str());
        u.wideView();
        const char* back = u.utf8View();
        check(std::string(back, u.unitCount()) == text);
    }

    // Split the input in two and exercise the comparisons and searches.
    const size_t half = size / 2;
    KsString left(bytes, static_cast<int64_t>(half));
    KsString right(bytes + half, static_cast<int64_t>(size - half));
    const int16_t order = left.compare(right, 0, 0);
    const int16_t reverse = right.compare(left, 0, 0);
    // Antisymmetric for texts of one form without embedded NULs (the order reads
    // only as far as the left string's own terminator).
    if (left.encoding() == right.encoding() && textLength == size) {
        check((order < 0) == (reverse > 0) && (order == 0) == (reverse == 0));
    }
    KsString hay(s);
    const uint64_t at = hay.find(right, 0);
    if (at != KsString::npos) {
        check(at <= hay.unitCount());
        hay.substring(at, right.unitCount());
    }
    KsString w(s);
    const uint64_t wideLength = w.length();
    if (wideLength > 0) {
        w.charAt(wideLength - 1);
        w.rfindChar(w.charAt(0), KsString::npos);
    }
    try {
        w.charAt(wideLength);
        check(false);
    } catch (const KsException&) {
    }
    KsString joined(left);
    joined.append(right);
    joined.utf8View();
    KsString lowered = s.toLower();
    lowered.ansiView();
    KsString trimmed(s);
    trimmed.trim();
    s.xmlEscape().utf8View();
    return 0;
}
