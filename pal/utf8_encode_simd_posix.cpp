// SPDX-License-Identifier: MIT
// Vector kernels for UTF-16 to UTF-8, eight units at a time, for the processors
// and under the attributes that utf8_simd_posix.cpp describes.
//
// Encoding lays each unit out as up to three bytes in a 32-bit slot (the halves
// of a pair give two bytes each) and packs four slots with a shuffle chosen by
// their lengths. Counting adds up lane masks.
#include "pal/utf_transcode.h"

#if MB_UTF_SIMD

#include <immintrin.h>

#define MB_SIMD_TARGET __attribute__((target("ssse3,sse4.1,popcnt")))

namespace utf::simd {
namespace {

// For four 32-bit slots of UTF-8 bytes: index bit j set when unit j is ASCII,
// bit 4 + j when it is below U+0800; the shuffle packs the slots' bytes.
struct SlotShuffles {
    uint8_t shuffle[256][16];
    uint8_t length[256];
};

constexpr SlotShuffles MakeSlotShuffles() {
    SlotShuffles t{};
    for (int m = 0; m < 256; ++m) {
        int k = 0;
        for (int j = 0; j < 4; ++j) {
            const int len = (m & (1 << j)) ? 1 : (m & (16 << j)) ? 2 : 3;
            for (int b = 0; b < len; ++b) {
                t.shuffle[m][k++] = static_cast<uint8_t>(4 * j + b);
            }
        }
        t.length[m] = static_cast<uint8_t>(k);
        for (; k < 16; ++k) {
            t.shuffle[m][k] = 0x80;
        }
    }
    return t;
}

alignas(16) constexpr SlotShuffles kPackSlots = MakeSlotShuffles();

MB_SIMD_TARGET inline __m128i Load(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

MB_SIMD_TARGET inline void Store(void* p, __m128i v) {
    _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

MB_SIMD_TARGET inline __m128i Units(int u) {
    return _mm_set1_epi16(static_cast<short>(u));
}

MB_SIMD_TARGET inline uint32_t Mask(__m128i v) {
    return static_cast<uint32_t>(_mm_movemask_epi8(v));
}

// Sums the 16-bit lanes of `v`, each holding minus a count.
MB_SIMD_TARGET inline size_t SumNegated(__m128i v) {
    const __m128i pairs = _mm_madd_epi16(_mm_sub_epi16(_mm_setzero_si128(), v), Units(1));
    const __m128i halves = _mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, 0x4E));
    const __m128i all = _mm_add_epi32(halves, _mm_shuffle_epi32(halves, 0xB1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(all));
}

}  // namespace

MB_SIMD_TARGET void Encode(const char16_t*& s, const char16_t* end, uint8_t* out, size_t capacity,
                           size_t& k) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i six = Units(0x3F);
    const char16_t* const start = s;
    __m128i prev = zero;  // the unit before the block (U+0000 at the start)
    // A block writes up to 28 bytes; the 16 or more units after it write at
    // least the 16 bytes that its last store may leave past its text.
    while (end - s >= 24 && capacity - k >= 32) {
        const __m128i c = Load(s);
        const __m128i top5 = _mm_and_si128(c, Units(0xF800));
        const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(c, Units(0xFF80)), zero);
        if (Mask(ascii) == 0xFFFF) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(c, c));
            s += 8;
            k += 8;
            prev = c;
            continue;
        }
        const __m128i surrogate = _mm_cmpeq_epi16(top5, Units(0xD800));
        __m128i two = _mm_cmpeq_epi16(top5, zero);  // below U+0800
        const __m128i last = _mm_or_si128(_mm_and_si128(c, six), Units(0x80));
        const __m128i middle = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(c, 6), six), Units(0x80));
        const __m128i lead3 = _mm_or_si128(_mm_srli_epi16(c, 12), Units(0xE0));
        const __m128i lead2 = _mm_or_si128(_mm_srli_epi16(c, 6), Units(0xC0));
        __m128i first = _mm_blendv_epi8(_mm_blendv_epi8(lead3, lead2, two), c, ascii);
        __m128i second = _mm_blendv_epi8(middle, last, two);
        if (Mask(surrogate) != 0) {
            // Each half of a pair gives two of the four bytes. A lone surrogate is
            // left to the caller.
            const __m128i top6 = Units(0xFC00);
            const __m128i high = _mm_cmpeq_epi16(_mm_and_si128(c, top6), Units(0xD800));
            const __m128i low = _mm_cmpeq_epi16(_mm_and_si128(c, top6), Units(0xDC00));
            const __m128i before = _mm_alignr_epi8(c, prev, 14);
            const __m128i after = Load(s + 1);
            const __m128i highBefore = _mm_cmpeq_epi16(_mm_and_si128(before, top6), Units(0xD800));
            const __m128i lowAfter = _mm_cmpeq_epi16(_mm_and_si128(after, top6), Units(0xDC00));
            if (Mask(_mm_or_si128(_mm_andnot_si128(lowAfter, high),
                                  _mm_andnot_si128(highBefore, low))) != 0) {
                break;
            }
            // The code point's bits 10-20, plus 0x40 for the 0x10000 offset.
            const __m128i plane = _mm_add_epi16(_mm_and_si128(c, Units(0x3FF)), Units(0x40));
            const __m128i highFirst = _mm_or_si128(_mm_srli_epi16(plane, 8), Units(0xF0));
            const __m128i highSecond =
                _mm_or_si128(_mm_and_si128(_mm_srli_epi16(plane, 2), six), Units(0x80));
            const __m128i lowFirst =
                _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(before, Units(0x03)), 4),
                                          _mm_and_si128(_mm_srli_epi16(c, 6), Units(0x0F))),
                             Units(0x80));
            first = _mm_blendv_epi8(first, _mm_blendv_epi8(lowFirst, highFirst, high), surrogate);
            second = _mm_blendv_epi8(second, _mm_blendv_epi8(last, highSecond, high), surrogate);
            two = _mm_or_si128(two, surrogate);
        }
        const __m128i firstTwo = _mm_or_si128(first, _mm_slli_epi16(second, 8));
        const uint32_t kinds = Mask(_mm_packs_epi16(ascii, two));
        const uint32_t i0 = (kinds & 0x0F) | ((kinds >> 4) & 0xF0);
        const uint32_t i1 = ((kinds >> 4) & 0x0F) | ((kinds >> 8) & 0xF0);
        Store(out + k,
              _mm_shuffle_epi8(_mm_unpacklo_epi16(firstTwo, last), Load(kPackSlots.shuffle[i0])));
        k += kPackSlots.length[i0];
        Store(out + k,
              _mm_shuffle_epi8(_mm_unpackhi_epi16(firstTwo, last), Load(kPackSlots.shuffle[i1])));
        k += kPackSlots.length[i1];
        s += 8;
        prev = c;
    }
    // The caller goes on unit by unit: a pair split here is taken back whole.
    if (s > start && (s[-1] & 0xFC00) == 0xD800) {
        s -= 1;
        k -= 2;
    }
}

MB_SIMD_TARGET void CountUtf8(const char16_t*& s, const char16_t* end, size_t& extra,
                              size_t& surrogates, size_t& pairs) {
    const __m128i zero = _mm_setzero_si128();
    while (end - s >= 9) {
        // Lanes gather minus their counts; 4096 blocks stay within 16 bits.
        __m128i below = zero;
        __m128i surrogateLanes = zero;
        __m128i pairLanes = zero;
        size_t blocks = 0;
        for (; end - s >= 9 && blocks < 4096; s += 8, ++blocks) {
            const __m128i c = Load(s);
            const __m128i next = Load(s + 1);
            const __m128i top5 = _mm_and_si128(c, Units(0xF800));
            below = _mm_add_epi16(below, _mm_cmpeq_epi16(_mm_and_si128(c, Units(0xFF80)), zero));
            below = _mm_add_epi16(below, _mm_cmpeq_epi16(top5, zero));
            surrogateLanes = _mm_add_epi16(surrogateLanes, _mm_cmpeq_epi16(top5, Units(0xD800)));
            const __m128i high = _mm_cmpeq_epi16(_mm_and_si128(c, Units(0xFC00)), Units(0xD800));
            const __m128i low = _mm_cmpeq_epi16(_mm_and_si128(next, Units(0xFC00)), Units(0xDC00));
            pairLanes = _mm_add_epi16(pairLanes, _mm_and_si128(high, low));
        }
        extra += 16 * blocks - SumNegated(below);
        surrogates += SumNegated(surrogateLanes);
        pairs += SumNegated(pairLanes);
    }
}

}  // namespace utf::simd

#endif  // MB_UTF_SIMD
