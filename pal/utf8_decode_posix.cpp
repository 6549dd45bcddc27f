// SPDX-License-Identifier: MIT
// UTF-8 to UTF-16 for the code-page functions.
//
// Both calls of the two-call protocol are hot, so the size query never writes:
// the exact decoder is a template whose counting instance has every store
// compiled out. ASCII runs move 8 bytes per step, tested with one mask.
//
// Where the vector kernels run, text goes in chunks of a few kilobytes that
// end on a character boundary: a chunk that the kernel finds well-formed (and
// that fits) is measured or decoded by it, any other goes through the exact
// decoder from its first byte, which decides every replacement and error. The
// size query and the conversion take the same route through every chunk, so
// their counts agree.
#include <bit>
#include <cstring>

#include "pal/utf_transcode.h"

namespace utf {
namespace {

constexpr uint64_t kAsciiBytesMask = 0x8080808080808080ull;
constexpr char16_t kReplacement = 0xFFFD;

inline bool IsContinuation(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Position of the first flagged byte (bits 8) or unit (bits 16) in a mask taken
// from a block loaded with memcpy.
inline size_t FirstFlagged(uint64_t mask, int bits) {
    const int zeros = kLittleEndian ? std::countr_zero(mask) : std::countl_zero(mask);
    return static_cast<size_t>(zeros / bits);
}

// Eight bytes to eight units, spreading the bytes apart within two words.
inline void Widen8(const uint8_t* s, uint64_t v, char16_t* out) {
    if constexpr (kLittleEndian) {
        uint64_t lo = v & 0xFFFFFFFFu;
        uint64_t hi = v >> 32;
        lo = (lo | (lo << 16)) & 0x0000FFFF0000FFFFull;
        hi = (hi | (hi << 16)) & 0x0000FFFF0000FFFFull;
        lo = (lo | (lo << 8)) & 0x00FF00FF00FF00FFull;
        hi = (hi | (hi << 8)) & 0x00FF00FF00FF00FFull;
        std::memcpy(out, &lo, 8);
        std::memcpy(out + 4, &hi, 8);
    } else {
        for (int i = 0; i < 8; ++i) {
            out[i] = s[i];
        }
    }
}

// Length of the ill-formed unit at `s` that becomes one U+FFFD: a valid lead
// byte followed by the continuation bytes that still fit its sequence, or the
// single bad byte. Called only where no complete well-formed sequence starts.
size_t IllFormedLength(const uint8_t* s, const uint8_t* end) {
    const uint8_t lead = s[0];
    if (lead < 0xC2 || lead > 0xF4 || end - s < 2 || !IsContinuation(s[1])) {
        return 1;
    }
    // A continuation byte outside the second byte's range (an overlong form
    // after E0 or F0, a surrogate after ED, a code point above U+10FFFF after
    // F4) ends the unit with the lead. Windows documents no rule for the count
    // of replacements; this is the reference decoder's (Wine's), where the
    // Unicode practice would give the lead a replacement of its own.
    const uint8_t lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const uint8_t hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (s[1] < lo || s[1] > hi) {
        return 2;
    }
    const size_t need = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    size_t n = 2;
    while (n < need && s + n < end && IsContinuation(s[n])) {
        ++n;
    }
    return n;
}

// The exact path: character by character from `s` until a character starts at
// or after `stop` (its sequence may run on to `end`). Replaces or rejects
// ill-formed input and stops at the first unit that does not fit. Its counting
// instance (kWrite false) has every store compiled out. Inlined into both
// loops below.
template <bool kWrite>
[[gnu::always_inline]] inline Status DecodeExact(const uint8_t*& from, const uint8_t* stop,
                                                 const uint8_t* end, char16_t* out, size_t capacity,
                                                 bool strict, size_t& count) {
    // Locals, so that the loop keeps them in registers.
    const uint8_t* s = from;
    size_t k = count;
    while (s < stop) {
        if (*s < 0x80) {
            // Whole blocks of ASCII. The block that ends the run is left to the
            // byte loop: its multi-byte tail may yield fewer than 8 units, and
            // nothing may be written past the converted text.
            while (stop - s >= 8) {
                uint64_t v;
                std::memcpy(&v, s, 8);
                const uint64_t high = v & kAsciiBytesMask;
                if (high != 0) {
                    if constexpr (!kWrite) {
                        const size_t n = FirstFlagged(high, 8);
                        s += n;
                        k += n;
                    }
                    break;
                }
                if constexpr (kWrite) {
                    if (capacity - k < 8) {
                        break;
                    }
                    Widen8(s, v, out + k);
                }
                s += 8;
                k += 8;
            }
            while (s < stop && *s < 0x80) {
                if constexpr (kWrite) {
                    if (k == capacity) {
                        return Status::kNoRoom;
                    }
                    out[k] = *s;
                }
                ++s;
                ++k;
            }
            continue;
        }

        // Well-formed sequences with room to read four bytes: one branch on the
        // lead's class, one on validity. Everything else takes the general path.
        uint32_t cp = 0;
        int len = 0;
        if (end - s >= 4) {
            const uint32_t b0 = s[0];
            const uint32_t b1 = s[1];
            const uint32_t b2 = s[2];
            if ((b0 & 0xE0) == 0xC0) {
                cp = ((b0 & 0x1F) << 6) | (b1 & 0x3F);
                len = (((b1 & 0xC0) == 0x80) & (b0 >= 0xC2)) ? 2 : 0;
            } else if ((b0 & 0xF0) == 0xE0) {
                cp = ((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
                const bool ok = ((b1 & 0xC0) == 0x80) & ((b2 & 0xC0) == 0x80) & (cp >= 0x800) &
                                (cp - 0xD800 >= 0x800);
                len = ok ? 3 : 0;
            } else if ((b0 & 0xF8) == 0xF0) {
                const uint32_t b3 = s[3];
                cp = ((b0 & 0x07) << 18) | ((b1 & 0x3F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F);
                const bool ok = ((b1 & 0xC0) == 0x80) & ((b2 & 0xC0) == 0x80) &
                                ((b3 & 0xC0) == 0x80) & (cp >= 0x10000) & (cp <= 0x10FFFF);
                len = ok ? 4 : 0;
            }
        } else {
            const uint32_t lead = *s;
            const ptrdiff_t left = end - s;
            if (lead >= 0xC2 && lead <= 0xDF) {
                if (left >= 2 && IsContinuation(s[1])) {
                    cp = ((lead & 0x1F) << 6) | (s[1] & 0x3F);
                    len = 2;
                }
            } else if (lead >= 0xE0 && lead <= 0xEF) {
                if (left >= 3 && IsContinuation(s[1]) && IsContinuation(s[2])) {
                    cp = ((lead & 0x0F) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3F);
                    if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
                        len = 3;
                    }
                }
            }  // a four-byte sequence always has four bytes left, so it is handled above
        }

        if (len == 0) {
            if (strict) {
                return Status::kInvalid;
            }
            s += IllFormedLength(s, end);
            cp = kReplacement;
        } else {
            s += len;
        }
        if (cp < 0x10000) {
            if constexpr (kWrite) {
                if (k == capacity) {
                    return Status::kNoRoom;
                }
                out[k] = static_cast<char16_t>(cp);
            }
            k += 1;
        } else {
            if constexpr (kWrite) {
                if (capacity - k < 2) {
                    return Status::kNoRoom;
                }
                cp -= 0x10000;
                out[k] = static_cast<char16_t>(0xD800 | (cp >> 10));
                out[k + 1] = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
            }
            k += 2;
        }
    }
    from = s;
    count = k;
    return Status::kOk;
}

#if MB_UTF_SIMD
constexpr size_t kChunk = 4096;
// Below this the exact decoder alone is faster; no chunk is shorter.
constexpr size_t kMinVectorBytes = 32;

// End of the chunk that starts at `s`: kChunk bytes on, moved back to the start
// of a character, or the end where less than half a chunk more would remain.
// Well-formed text then holds whole characters in each chunk; in any other the
// kernel rejects this chunk or the next.
const uint8_t* ChunkEnd(const uint8_t* s, const uint8_t* end) {
    if (static_cast<size_t>(end - s) < kChunk + kChunk / 2) {
        return end;
    }
    const uint8_t* e = s + kChunk;
    for (int i = 0; i < 3 && IsContinuation(*e); ++i) {
        --e;
    }
    return e;
}
#endif

template <bool kWrite>
Status Decode(const uint8_t* s, size_t length, char16_t* out, size_t capacity, bool strict,
              size_t* produced) {
    const uint8_t* const end = s + length;
    size_t k = 0;
#if MB_UTF_SIMD
    if (length >= kMinVectorBytes && simd::Available()) {
        while (s < end) {
            const uint8_t* const e = ChunkEnd(s, end);
            size_t units = 0;
            if (static_cast<size_t>(e - s) >= kMinVectorBytes && simd::Measure(s, e, &units) &&
                (!kWrite || units <= capacity - k)) {
                if constexpr (kWrite) {
                    // The kernel leaves the last few characters, which fit.
                    char16_t* next = out + k;
                    const uint8_t* rest = simd::Decode(s, e, end, next, next + units);
                    size_t done = static_cast<size_t>(next - out);
                    const Status status =
                        DecodeExact<true>(rest, e, end, out, capacity, strict, done);
                    if (status != Status::kOk) {
                        return status;
                    }
                }
                s = e;
                k += units;
                continue;
            }
            // The chunk starts a character, as the one before it was whole.
            const Status status = DecodeExact<kWrite>(s, e, end, out, capacity, strict, k);
            if (status != Status::kOk) {
                return status;
            }
        }
        *produced = k;
        return Status::kOk;
    }
#endif
    const Status status = DecodeExact<kWrite>(s, end, end, out, capacity, strict, k);
    if (status == Status::kOk) {
        *produced = k;
    }
    return status;
}

}  // namespace

Status ToUtf16(const uint8_t* in, size_t length, char16_t* out, size_t capacity, bool strict,
               size_t* produced) {
    return out == nullptr ? Decode<false>(in, length, nullptr, 0, strict, produced)
                          : Decode<true>(in, length, out, capacity, strict, produced);
}

}  // namespace utf
