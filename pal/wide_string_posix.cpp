// Length, comparison and lower-casing of NUL-terminated UTF-16 text.
#include <cerrno>

#include "pal/wide_crt.h"

namespace {

// Simple (one-to-one) lower-case mapping for the scripts mailbroker meets in
// headers and names: Latin, Greek, Cyrillic, Armenian and full-width Latin.
// Characters outside those blocks, and surrogates, are left alone.
char16_t ToLower(char16_t c) {
    if (c < 0x80) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 0x20) : c;
    }
    const auto plus = [c](int delta) { return static_cast<char16_t>(c + delta); };
    const bool even = (c & 1) == 0;
    if (c < 0x100) {
        return (c >= 0xC0 && c <= 0xDE && c != 0xD7) ? plus(0x20) : c;
    }
    if (c < 0x180) {  // Latin Extended-A: alternating upper/lower pairs
        if (c == 0x130) {
            return u'i';
        }
        if (c == 0x178) {
            return 0xFF;
        }
        if ((c <= 0x137 && even) || (c >= 0x139 && c <= 0x148 && !even) ||
            (c >= 0x14A && c <= 0x177 && even) || (c >= 0x179 && c <= 0x17E && !even)) {
            return plus(1);
        }
        return c;
    }
    if (c >= 0x370 && c < 0x400) {  // Greek
        if (c == 0x386) {
            return 0x3AC;
        }
        if (c >= 0x388 && c <= 0x38A) {
            return plus(37);
        }
        if (c == 0x38C) {
            return 0x3CC;
        }
        if (c == 0x38E || c == 0x38F) {
            return plus(63);
        }
        if ((c >= 0x391 && c <= 0x3A1) || (c >= 0x3A3 && c <= 0x3AB)) {
            return plus(32);
        }
        if (c >= 0x3D8 && c <= 0x3EF && even) {
            return plus(1);
        }
        return c;
    }
    if (c >= 0x400 && c < 0x530) {  // Cyrillic and its supplement
        if (c < 0x410) {
            return plus(80);
        }
        if (c < 0x430) {
            return plus(32);
        }
        if (c == 0x4C0) {
            return 0x4CF;
        }
        if (((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || c >= 0x4D0) && even) {
            return plus(1);
        }
        if (c >= 0x4C1 && c <= 0x4CE && !even) {
            return plus(1);
        }
        return c;
    }
    if (c >= 0x531 && c <= 0x556) {  // Armenian
        return plus(48);
    }
    if (c >= 0x1E00 && c <= 0x1EFF) {  // Latin Extended Additional
        if (c == 0x1E9E) {
            return 0xDF;
        }
        return ((c <= 0x1E95 || c >= 0x1EA0) && even) ? plus(1) : c;
    }
    if (c >= 0xFF21 && c <= 0xFF3A) {  // full-width A-Z
        return plus(32);
    }
    return c;
}

}  // namespace

// Unrolled, but each unit is read only after the one before it proved non-zero,
// so nothing past the terminator is touched.
size_t wcslen(const WCHAR* s) {
    const WCHAR* p = s;
    for (;; p += 4) {
        if (p[0] == 0) {
            return static_cast<size_t>(p - s);
        }
        if (p[1] == 0) {
            return static_cast<size_t>(p + 1 - s);
        }
        if (p[2] == 0) {
            return static_cast<size_t>(p + 2 - s);
        }
        if (p[3] == 0) {
            return static_cast<size_t>(p + 3 - s);
        }
    }
}

size_t wcsnlen(const WCHAR* s, size_t max) {
    size_t n = 0;
    while (n < max && s[n] != 0) {
        ++n;
    }
    return n;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    // WCHAR is unsigned, so this orders by code unit as the Microsoft runtime does.
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

errno_t _wcslwr_s(WCHAR* s, size_t size) {
    if (s == nullptr) {
        errno = EINVAL;
        return EINVAL;
    }
    if (wcsnlen(s, size) == size) {
        if (size > 0) {
            s[0] = 0;
        }
        errno = EINVAL;
        return EINVAL;
    }
    for (; *s != 0; ++s) {
        *s = ToLower(*s);
    }
    return 0;
}
