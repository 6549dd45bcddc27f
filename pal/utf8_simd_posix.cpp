// SPDX-License-Identifier: MIT
// Vector kernels for UTF-8 to UTF-16, 16 bytes at a time (UTF-16 to UTF-8 is in
// utf8_encode_simd_posix.cpp).
//
// Compiled for SSSE3, SSE4.1 and POPCNT through function attributes only, so
// the rest of the library keeps the baseline instruction set; the converters
// call these only after Available() has checked the processor.
//
// UTF-8 is checked with three 16-entry tables indexed by nibbles of each byte
// and of the byte before it, whose AND flags every ill-formed pair; a byte that
// must be the second or third continuation is checked against the bytes two
// and three back. Decoding builds a candidate unit at every byte from it and
// the two before, then keeps the units at character ends with a shuffle chosen
// by the 8-bit end mask.
#include "pal/utf_transcode.h"

#if MB_UTF_SIMD

#include <immintrin.h>

#define MB_SIMD_TARGET __attribute__((target("ssse3,sse4.1,popcnt")))

namespace utf::simd {
namespace {

// Error classes of a byte pair (previous, current). A pair is ill-formed when
// one class holds for the previous byte's high nibble, its low nibble and the
// current byte's high nibble alike.
constexpr uint8_t kTooShort = 0x01;   // a lead without its continuation
constexpr uint8_t kTooLong = 0x02;    // ASCII, then a continuation
constexpr uint8_t kOverlong3 = 0x04;  // E0 80-9F
constexpr uint8_t kSurrogate = 0x08;  // ED A0-BF
constexpr uint8_t kOverlong4 = 0x10;  // F0 80-8F
constexpr uint8_t kTooLarge = 0x20;   // F4 90-BF
constexpr uint8_t kTwoConts = 0x80;   // continuation, continuation: checked apart

struct PairTables {
    uint8_t prevHigh[16];
    uint8_t prevLow[16];
    uint8_t curHigh[16];
};

constexpr PairTables MakePairTables() {
    PairTables t{};
    for (int n = 0; n < 16; ++n) {
        const bool cont = n >= 8 && n < 12;
        uint8_t h = n < 8 ? kTooLong : cont ? kTwoConts : kTooShort;
        h |= n == 0xE ? kOverlong3 | kSurrogate : 0;
        h |= n == 0xF ? kOverlong4 | kTooLarge : 0;
        t.prevHigh[n] = h;

        uint8_t l = kTooShort | kTooLong | kTwoConts;
        l |= n == 0x0 ? kOverlong3 | kOverlong4 : 0;
        l |= n == 0xD ? kSurrogate : 0;
        l |= n == 0x4 ? kTooLarge : 0;
        t.prevLow[n] = l;

        uint8_t c = cont ? kTooLong | kTwoConts : kTooShort;
        c |= n == 0x8 || n == 0x9 ? kOverlong3 : 0;
        c |= n == 0xA || n == 0xB ? kSurrogate : 0;
        c |= n == 0x8 ? kOverlong4 : 0;
        c |= n >= 0x9 && n <= 0xB ? kTooLarge : 0;
        t.curHigh[n] = c;
    }
    return t;
}

alignas(16) constexpr PairTables kPairs = MakePairTables();

// For each 8-bit mask of 16-bit lanes: the shuffle that moves the flagged lanes
// to the front, in order.
struct LaneShuffles {
    uint8_t shuffle[256][16];
};

constexpr LaneShuffles MakeLaneShuffles() {
    LaneShuffles t{};
    for (int m = 0; m < 256; ++m) {
        int k = 0;
        for (int lane = 0; lane < 8; ++lane) {
            if (m & (1 << lane)) {
                t.shuffle[m][k++] = static_cast<uint8_t>(2 * lane);
                t.shuffle[m][k++] = static_cast<uint8_t>(2 * lane + 1);
            }
        }
        for (; k < 16; ++k) {
            t.shuffle[m][k] = 0x80;  // zero
        }
    }
    return t;
}

alignas(16) constexpr LaneShuffles kKeepLanes = MakeLaneShuffles();

MB_SIMD_TARGET inline __m128i Load(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

MB_SIMD_TARGET inline void Store(void* p, __m128i v) {
    _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

MB_SIMD_TARGET inline __m128i Bytes(int b) {
    return _mm_set1_epi8(static_cast<char>(b));
}

MB_SIMD_TARGET inline __m128i Units(int u) {
    return _mm_set1_epi16(static_cast<short>(u));
}

MB_SIMD_TARGET inline uint32_t Mask(__m128i v) {
    return static_cast<uint32_t>(_mm_movemask_epi8(v));
}

// Checks the block `x`, whose predecessor is `prev`, folding errors into `err`;
// returns the units that the bytes flagged in `counted` add. `open` flags a
// character still open at its end.
MB_SIMD_TARGET inline size_t CheckBlock(__m128i x, __m128i prev, __m128i& err, __m128i& open,
                                        uint32_t counted = 0xFFFF) {
    const __m128i low4 = Bytes(0x0F);
    const __m128i p1 = _mm_alignr_epi8(x, prev, 15);
    const __m128i p2 = _mm_alignr_epi8(x, prev, 14);
    const __m128i p3 = _mm_alignr_epi8(x, prev, 13);
    const __m128i prevHigh = _mm_and_si128(_mm_srli_epi16(p1, 4), low4);
    const __m128i curHigh = _mm_and_si128(_mm_srli_epi16(x, 4), low4);
    __m128i cls = _mm_shuffle_epi8(Load(kPairs.prevHigh), prevHigh);
    cls = _mm_and_si128(cls, _mm_shuffle_epi8(Load(kPairs.prevLow), _mm_and_si128(p1, low4)));
    cls = _mm_and_si128(cls, _mm_shuffle_epi8(Load(kPairs.curHigh), curHigh));
    // A continuation after a continuation is right exactly where a three-byte
    // lead is two back or a four-byte lead three back.
    const __m128i leads =
        _mm_or_si128(_mm_subs_epu8(p2, Bytes(0xDF)), _mm_subs_epu8(p3, Bytes(0xEF)));
    const __m128i want =
        _mm_andnot_si128(_mm_cmpeq_epi8(leads, _mm_setzero_si128()), Bytes(kTwoConts));
    err = _mm_or_si128(err, _mm_xor_si128(cls, want));
    // Bytes that never occur: C0, C1 and F5-FF.
    err = _mm_or_si128(err, _mm_subs_epu8(x, Bytes(0xF4)));
    err = _mm_or_si128(err, _mm_cmpeq_epi8(_mm_and_si128(x, Bytes(0xFE)), Bytes(0xC0)));
    // Leads too close to the end for their continuations.
    open = _mm_subs_epu8(x, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                          static_cast<char>(0xEF), static_cast<char>(0xDF),
                                          static_cast<char>(0xBF)));
    // One unit per byte that is not a continuation, one more per four-byte lead.
    const uint32_t continuations = Mask(_mm_cmplt_epi8(x, Bytes(0xC0))) & counted;
    const uint32_t fourLeads = Mask(_mm_cmpgt_epi8(x, Bytes(0xEF))) & Mask(x) & counted;
    return static_cast<size_t>(_mm_popcnt_u32(counted) - _mm_popcnt_u32(continuations) +
                               _mm_popcnt_u32(fourLeads));
}

// Writes the units flagged in the low 8 bits of `ends` from `lo`, then those in
// the high 8 bits from `hi`, 16 bytes a store; returns the new end.
MB_SIMD_TARGET inline char16_t* KeepEnds(__m128i lo, __m128i hi, uint32_t ends, char16_t* out) {
    const uint32_t m0 = ends & 0xFF;
    const uint32_t m1 = ends >> 8;
    Store(out, _mm_shuffle_epi8(lo, Load(kKeepLanes.shuffle[m0])));
    out += _mm_popcnt_u32(m0);
    Store(out, _mm_shuffle_epi8(hi, Load(kKeepLanes.shuffle[m1])));
    return out + _mm_popcnt_u32(m1);
}

// The unit that a character ending at each byte of `x` yields, for blocks with
// four-byte characters: from the byte before a four-byte character's third
// continuation comes its high surrogate, from the third its low one.
MB_SIMD_TARGET inline __m128i Candidates(__m128i c, __m128i q1, __m128i q2, __m128i isAscii,
                                         __m128i isThree, __m128i isHighHalf, __m128i isLowHalf) {
    const __m128i six = Units(0x3F);
    const __m128i t =
        _mm_or_si128(_mm_and_si128(c, six), _mm_slli_epi16(_mm_and_si128(q1, six), 6));
    __m128i u = _mm_blendv_epi8(t, _mm_or_si128(t, _mm_slli_epi16(q2, 12)), isThree);
    const __m128i high = _mm_add_epi16(
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(q2, Units(0x07)), 8), _mm_srli_epi16(t, 4)),
        Units(0xD7C0));
    u = _mm_blendv_epi8(u, high, isHighHalf);
    u = _mm_blendv_epi8(u, _mm_or_si128(_mm_and_si128(t, Units(0x3FF)), Units(0xDC00)), isLowHalf);
    return _mm_blendv_epi8(u, c, isAscii);
}

}  // namespace

bool Available() {
    static const bool ok = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1") &&
               __builtin_cpu_supports("popcnt");
    }();
    return ok;
}

MB_SIMD_TARGET bool Measure(const uint8_t* s, const uint8_t* e, size_t* units) {
    __m128i prev = _mm_setzero_si128();
    __m128i err = _mm_setzero_si128();
    __m128i open = _mm_setzero_si128();
    size_t n = 0;
    for (; e - s >= 16; s += 16) {
        const __m128i x = Load(s);
        if (Mask(x) == 0) {
            err = _mm_or_si128(err, open);  // ASCII cannot continue a character
            open = _mm_setzero_si128();
            n += 16;
        } else {
            n += CheckBlock(x, prev, err, open);
        }
        prev = x;
    }
    if (s < e) {
        // The last 16 bytes again, counting only those not yet counted; the 16
        // before them give the bytes just before.
        const auto r = static_cast<int>(e - s);
        const uint32_t counted = (0xFFFFu << (16 - r)) & 0xFFFF;
        const __m128i x = Load(e - 16);
        if ((Mask(x) & counted) == 0) {
            err = _mm_or_si128(err, open);
            open = _mm_setzero_si128();
            n += static_cast<size_t>(r);
        } else {
            n += CheckBlock(x, Load(e - 32), err, open, counted);
        }
    }
    err = _mm_or_si128(err, open);
    *units = n;
    return _mm_testz_si128(err, err) != 0;
}

MB_SIMD_TARGET const uint8_t* Decode(const uint8_t* const start, const uint8_t* e,
                                     const uint8_t* limit, char16_t*& out, const char16_t* outEnd) {
    const uint8_t* s = start;
    const __m128i zero = _mm_setzero_si128();
    __m128i prev = zero;  // the chunk starts a character: nothing before it counts
    // Each block may store 16 units, some of them to be overwritten.
    while (e - s >= 16 && outEnd - out >= 16) {
        const __m128i x = Load(s);
        if (Mask(x) == 0) {
            Store(out, _mm_unpacklo_epi8(x, zero));
            Store(out + 8, _mm_unpackhi_epi8(x, zero));
            out += 16;
            s += 16;
            prev = x;
            continue;
        }
        // A byte ends a unit unless a continuation follows it; whatever follows
        // the chunk counts as no continuation.
        const __m128i next = limit - s > 16 ? Load(s + 1) : _mm_srli_si128(x, 1);
        const __m128i p1 = _mm_alignr_epi8(x, prev, 15);
        const __m128i p2 = _mm_alignr_epi8(x, prev, 14);
        const __m128i isAscii = _mm_cmpgt_epi8(x, Bytes(-1));
        const __m128i lead2 = _mm_and_si128(p2, Bytes(0xF0));
        const __m128i isThree = _mm_cmpeq_epi8(lead2, Bytes(0xE0));
        const __m128i isHighHalf = _mm_cmpeq_epi8(lead2, Bytes(0xF0));
        const __m128i p3 = _mm_alignr_epi8(x, prev, 13);
        const __m128i isLowHalf = _mm_cmpeq_epi8(_mm_and_si128(p3, Bytes(0xF0)), Bytes(0xF0));
        uint32_t ends = Mask(_mm_or_si128(_mm_cmpgt_epi8(next, Bytes(0xBF)), isHighHalf));
        ends |= e - s == 16 ? 0x8000u : 0u;
        __m128i lo;
        __m128i hi;
        const __m128i four = _mm_or_si128(isHighHalf, isLowHalf);
        if (_mm_testz_si128(four, four)) {
            // Up to three bytes: the last byte's bits (seven for ASCII), six from
            // the byte before, four from a three-byte lead two back.
            const __m128i last =
                _mm_and_si128(x, _mm_or_si128(Bytes(0x3F), _mm_and_si128(isAscii, Bytes(0x40))));
            const __m128i middle = _mm_andnot_si128(isAscii, _mm_and_si128(p1, Bytes(0x3F)));
            const __m128i top =
                _mm_slli_epi16(_mm_and_si128(isThree, _mm_and_si128(p2, Bytes(0x0F))), 4);
            lo = _mm_or_si128(_mm_unpacklo_epi8(last, top),
                              _mm_slli_epi16(_mm_unpacklo_epi8(middle, zero), 6));
            hi = _mm_or_si128(_mm_unpackhi_epi8(last, top),
                              _mm_slli_epi16(_mm_unpackhi_epi8(middle, zero), 6));
        } else {
            lo = Candidates(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(p1, zero),
                            _mm_unpacklo_epi8(p2, zero), _mm_unpacklo_epi8(isAscii, isAscii),
                            _mm_unpacklo_epi8(isThree, isThree),
                            _mm_unpacklo_epi8(isHighHalf, isHighHalf),
                            _mm_unpacklo_epi8(isLowHalf, isLowHalf));
            hi = Candidates(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(p1, zero),
                            _mm_unpackhi_epi8(p2, zero), _mm_unpackhi_epi8(isAscii, isAscii),
                            _mm_unpackhi_epi8(isThree, isThree),
                            _mm_unpackhi_epi8(isHighHalf, isHighHalf),
                            _mm_unpackhi_epi8(isLowHalf, isLowHalf));
        }
        out = KeepEnds(lo, hi, ends, out);
        s += 16;
        prev = x;
    }
    // Back to the start of the character open at `s`; if that is a four-byte
    // one whose high surrogate went out, it goes out again.
    if (s < e) {
        const uint8_t* const stop = s;
        while (s > start && (*s & 0xC0) == 0x80) {
            --s;
        }
        if (stop - s == 3 && *s >= 0xF0) {
            --out;
        }
    }
    return s;
}

}  // namespace utf::simd

#endif  // MB_UTF_SIMD
