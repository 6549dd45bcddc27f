// SPDX-License-Identifier: MIT
// UTF-16 to UTF-8 for the code-page functions (UTF-8 to UTF-16 is in
// utf8_decode_posix.cpp).
//
// Both calls of the two-call protocol are hot, so the size query never writes:
// UTF-16 is measured by a branch-light count. ASCII runs move 4 UTF-16 units per
// step, tested with one mask. Where the vector kernels run, they take both
// calls over all text but lone surrogates and the last few units.
#include <bit>
#include <cstring>

#include "pal/utf_transcode.h"

namespace utf {
namespace {

constexpr uint64_t kAsciiUnitsMask = 0xFF80FF80FF80FF80ull;
constexpr char16_t kReplacement = 0xFFFD;
constexpr bool kLittleEndian = std::endian::native == std::endian::little;
// Below this the scalar code alone is faster.
constexpr size_t kMinVectorUnits = 32;

// Position of the first flagged byte (bits 8) or unit (bits 16) in a mask taken
// from a block loaded with memcpy.
inline size_t FirstFlagged(uint64_t mask, int bits) {
    const int zeros = kLittleEndian ? std::countr_zero(mask) : std::countl_zero(mask);
    return static_cast<size_t>(zeros / bits);
}

// Four units below 0x100 to four bytes, gathering the low bytes together.
inline void Narrow4(const char16_t* s, uint64_t v, uint8_t* out) {
    if constexpr (kLittleEndian) {
        v = (v | (v >> 8)) & 0x0000FFFF0000FFFFull;
        v = (v | (v >> 16)) & 0xFFFFFFFFull;
        const auto four = static_cast<uint32_t>(v);
        std::memcpy(out, &four, 4);
    } else {
        for (int i = 0; i < 4; ++i) {
            out[i] = static_cast<uint8_t>(s[i]);
        }
    }
}

// 1 in each 16-bit lane of `t` that is non-zero; `t` holds lane bits at or
// above `shift` only, so shifting moves no bits between lanes.
inline uint64_t NonZeroLanes(uint64_t t, int shift) {
    return (((t >> shift) + 0x7FFF7FFF7FFF7FFFull) >> 15) & 0x0001000100010001ull;
}

inline size_t SumLanes(uint64_t lanes) {
    return (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48);
}

// Flags (1 per 16-bit lane) for the lanes of `v` whose bits under `mask`
// equal `value`; `mask` keeps bits `shift` and up of each lane.
inline uint64_t LanesEqual(uint64_t v, uint64_t mask, uint64_t value, int shift) {
    return 0x0001000100010001ull - NonZeroLanes((v & mask) ^ value, shift);
}

// Length of the UTF-8 form, without a branch per unit: one byte per unit, one
// more from U+0080, another from U+0800, less 2 for each high surrogate that a
// low one follows (a pair takes 4 bytes, not 3 + 3). A lone surrogate counts 3,
// as its U+FFFD does; it is lone exactly when surrogates outnumber 2 x pairs.
Status CountUtf8(const char16_t* s, size_t length, bool strict, size_t* produced) {
    constexpr uint64_t kTop5 = 0xF800F800F800F800ull;
    constexpr uint64_t kTop6 = 0xFC00FC00FC00FC00ull;
    constexpr uint64_t kOnes = 0x0001000100010001ull;
    size_t extra = 0;
    size_t pairs = 0;
    size_t surrogates = 0;
    size_t i = 0;
#if MB_UTF_SIMD
    if (length >= kMinVectorUnits && simd::Available()) {
        const char16_t* p = s;
        simd::CountUtf8(p, s + length, extra, surrogates, pairs);
        i = static_cast<size_t>(p - s);
    }
#endif
    // Four units a block; one holding a surrogate also reads the unit after each.
    while (length - i >= 5) {
        uint64_t extraLanes = 0;
        uint64_t pairLanes = 0;
        uint64_t surrogateLanes = 0;
        for (int blocks = 0; length - i >= 5 && blocks < 16384; ++blocks, i += 4) {
            uint64_t v;
            std::memcpy(&v, s + i, 8);
            extraLanes += NonZeroLanes(v & kAsciiUnitsMask, 7) + NonZeroLanes(v & kTop5, 11);
            const uint64_t z = (v & kTop5) ^ 0xD800D800D800D800ull;  // zero lane: a surrogate
            if (((z - kOnes) & ~z & 0x8000800080008000ull) != 0) {
                uint64_t next;
                std::memcpy(&next, s + i + 1, 8);
                pairLanes += LanesEqual(v, kTop6, 0xD800D800D800D800ull, 10) &
                             LanesEqual(next, kTop6, 0xDC00DC00DC00DC00ull, 10);
                surrogateLanes += kOnes - NonZeroLanes(z, 11);
            }
        }
        extra += SumLanes(extraLanes);
        pairs += SumLanes(pairLanes);
        surrogates += SumLanes(surrogateLanes);
    }
    for (; i < length; ++i) {
        const uint32_t c = s[i];
        extra += (c >= 0x80) + (c >= 0x800);
        surrogates += (c & 0xF800) == 0xD800;
        pairs += (c & 0xFC00) == 0xD800 && i + 1 < length && (s[i + 1] & 0xFC00) == 0xDC00;
    }
    if (strict && surrogates != 2 * pairs) {
        return Status::kInvalid;
    }
    *produced = length + extra - 2 * pairs;
    return Status::kOk;
}

// Unit by unit from `s` until a unit starts at or after `stop` (a pair may run
// on to `end`); stops at a lone surrogate when `strict` and at the first
// character that does not fit. Inlined into both loops below.
[[gnu::always_inline]] inline Status EncodeUnits(const char16_t*& from, const char16_t* stop,
                                                 const char16_t* end, uint8_t* out, size_t capacity,
                                                 bool strict, size_t& count) {
    // Locals, so that the loop keeps them in registers.
    const char16_t* s = from;
    size_t k = count;
    while (s < stop) {
        uint32_t c = *s;
        if (c < 0x80) {
            // Every unit after the ASCII prefix of the last block yields at least
            // one byte, so the bytes narrowed from them are always overwritten.
            while (end - s >= 4 && capacity - k >= 4) {
                uint64_t v;
                std::memcpy(&v, s, 8);
                const uint64_t high = v & kAsciiUnitsMask;
                Narrow4(s, v, out + k);
                if (high != 0) {
                    const size_t n = FirstFlagged(high, 16);
                    s += n;
                    k += n;
                    break;
                }
                s += 4;
                k += 4;
            }
            while (s < end && *s < 0x80) {
                if (k == capacity) {
                    return Status::kNoRoom;
                }
                out[k++] = static_cast<uint8_t>(*s++);
            }
            continue;
        }

        if (c < 0x800) {
            if (capacity - k < 2) {
                return Status::kNoRoom;
            }
            out[k] = static_cast<uint8_t>(0xC0 | (c >> 6));
            out[k + 1] = static_cast<uint8_t>(0x80 | (c & 0x3F));
            k += 2;
            s += 1;
            continue;
        }
        if ((c & 0xF800) == 0xD800) {
            if (c <= 0xDBFF && end - s >= 2 && (s[1] & 0xFC00) == 0xDC00) {
                c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00u);
                if (capacity - k < 4) {
                    return Status::kNoRoom;
                }
                out[k] = static_cast<uint8_t>(0xF0 | (c >> 18));
                out[k + 1] = static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F));
                out[k + 2] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
                out[k + 3] = static_cast<uint8_t>(0x80 | (c & 0x3F));
                k += 4;
                s += 2;
                continue;
            }
            if (strict) {
                return Status::kInvalid;
            }
            c = kReplacement;
        }
        if (capacity - k < 3) {
            return Status::kNoRoom;
        }
        out[k] = static_cast<uint8_t>(0xE0 | (c >> 12));
        out[k + 1] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
        out[k + 2] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        k += 3;
        s += 1;
    }
    from = s;
    count = k;
    return Status::kOk;
}

Status Encode(const char16_t* s, size_t length, uint8_t* out, size_t capacity, bool strict,
              size_t* produced) {
    const char16_t* const end = s + length;
    size_t k = 0;
#if MB_UTF_SIMD
    if (length >= kMinVectorUnits && simd::Available()) {
        while (s < end) {
            simd::Encode(s, end, out, capacity, k);
            // It stopped at a lone surrogate or near an end: the next eight
            // units (nine for a pair) go unit by unit.
            const char16_t* const stop = end - s > 8 ? s + 8 : end;
            const Status status = EncodeUnits(s, stop, end, out, capacity, strict, k);
            if (status != Status::kOk) {
                return status;
            }
        }
        *produced = k;
        return Status::kOk;
    }
#endif
    const Status status = EncodeUnits(s, end, end, out, capacity, strict, k);
    if (status == Status::kOk) {
        *produced = k;
    }
    return status;
}

}  // namespace

Status ToUtf8(const char16_t* in, size_t length, uint8_t* out, size_t capacity, bool strict,
              size_t* produced) {
    return out == nullptr ? CountUtf8(in, length, strict, produced)
                          : Encode(in, length, out, capacity, strict, produced);
}

}  // namespace utf
