// SPDX-License-Identifier: MIT
// Length, comparison and lower-casing of NUL-terminated UTF-16 text.
#include <bit>
#include <cerrno>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pal/wide_crt.h"
#include "pal/wide_crt_internal.h"

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

// Whole aligned blocks, tested for a zero unit at once: 32 bytes with SSE2, 8
// otherwise. An aligned block never straddles a page, so reading the units that
// follow the terminator in its block cannot fault, though they may lie past the
// object: the address sanitizer is told not to check these loads, and the
// thread sanitizer not to count them as reads of whatever object lies there
// (another thread may be writing it, and no unit past the terminator is ever
// used). A pointer that is not 2-aligned never reaches a block boundary and
// goes unit by unit.
#define MB_BLOCK_READS __attribute__((no_sanitize("address", "thread")))

namespace {

#if defined(__SSE2__)
constexpr uintptr_t kBlockBytes = 32;

// Two bits per unit of the block at `p`, set for a zero unit.
MB_BLOCK_READS inline uint32_t ZeroUnits(const WCHAR* p) {
    const __m128i zero = _mm_setzero_si128();
    // Plain dereferences (__m128i may alias anything): an intrinsic's own body
    // would be checked even here.
    const __m128i a = *reinterpret_cast<const __m128i*>(p);
    const __m128i b = *reinterpret_cast<const __m128i*>(p + 8);
    const auto lo = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(a, zero)));
    const auto hi = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(b, zero)));
    return lo | (hi << 16);
}

inline size_t FirstZero(uint32_t zeros) {
    return static_cast<size_t>(std::countr_zero(zeros) / 2);
}
#else
constexpr uintptr_t kBlockBytes = 8;
typedef uint64_t __attribute__((may_alias)) AliasedWord;

// Bit 15 of each lane of the word at `p` that is zero: exact per lane, as no
// carry crosses from one lane into the next.
MB_BLOCK_READS inline uint64_t ZeroUnits(const WCHAR* p) {
    constexpr uint64_t kLow15 = 0x7FFF7FFF7FFF7FFFull;
    const uint64_t v = *reinterpret_cast<const AliasedWord*>(p);
    return ~(((v & kLow15) + kLow15) | v) & 0x8000800080008000ull;
}

inline size_t FirstZero(uint64_t zeros) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<size_t>(std::countr_zero(zeros) / 16);
    } else {
        return static_cast<size_t>(std::countl_zero(zeros) / 16);
    }
}
#endif

constexpr size_t kBlockUnits = kBlockBytes / sizeof(WCHAR);

inline bool BlockAligned(const WCHAR* p) {
    return (reinterpret_cast<uintptr_t>(p) & (kBlockBytes - 1)) == 0;
}

}  // namespace

MB_BLOCK_READS size_t wcslen(const WCHAR* s) {
    const WCHAR* p = s;
    for (; !BlockAligned(p); ++p) {
        if (*p == 0) {
            return static_cast<size_t>(p - s);
        }
    }
    for (;; p += kBlockUnits) {
        const auto zeros = ZeroUnits(p);
        if (zeros != 0) {
            return static_cast<size_t>(p - s) + FirstZero(zeros);
        }
    }
}

MB_BLOCK_READS size_t wcsnlen(const WCHAR* s, size_t max) {
    size_t n = 0;
    for (; n < max && !BlockAligned(s + n); ++n) {
        if (s[n] == 0) {
            return n;
        }
    }
    for (; n < max; n += kBlockUnits) {
        const auto zeros = ZeroUnits(s + n);
        if (zeros != 0) {
            n += FirstZero(zeros);
            break;
        }
    }
    return n < max ? n : max;
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
    // The "C" locale every program starts in, which the Broker never leaves:
    // the Microsoft runtime lowers A-Z only there.
    for (; *s != 0; ++s) {
        if (*s >= 'A' && *s <= 'Z') {
            *s = static_cast<WCHAR>(*s + 0x20);
        }
    }
    return 0;
}

namespace wcrt {

char16_t FoldCase(char16_t c) {
    return ToLower(c);
}

}  // namespace wcrt
