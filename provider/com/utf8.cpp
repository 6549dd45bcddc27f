// SPDX-License-Identifier: MIT
#include "provider/com/utf8.h"

namespace mb::provider {

bool nextCodePoint(std::string_view s, std::size_t& i, std::uint32_t& cp) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    if (c < 0x80) {
        cp = c;
        ++i;
        return true;
    }
    if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07;
    } else {
        return false;
    }
    if (i + extra >= s.size()) {
        return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) {
            return false;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
    }
    i += extra + 1;
    return true;
}

bool isUtf8WithoutNul(std::string_view s) {
    std::uint32_t cp = 0;
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == '\0' || !nextCodePoint(s, i, cp)) {
            return false;
        }
    }
    return true;
}

}  // namespace mb::provider
