// UTF-8 <-> UTF-16 for the code-page functions.
//
// Both calls of the two-call protocol are hot, so the size query never writes:
// the UTF-8 decoder is a template whose counting instance has every store
// compiled out, and UTF-16 is measured by a branch-light count. ASCII runs move
// 8 bytes (or 4 UTF-16 units) per step, tested with one mask.
#include "pal/utf_transcode.h"

#include <bit>
#include <cstring>

namespace utf {
namespace {

constexpr uint64_t kAsciiBytesMask = 0x8080808080808080ull;
constexpr uint64_t kAsciiUnitsMask = 0xFF80FF80FF80FF80ull;
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

// Length of the maximal ill-formed subpart at `s`: a valid lead byte followed by
// the continuation bytes that still fit its sequence, or the single bad byte.
// Called only where no complete well-formed sequence starts.
size_t IllFormedLength(const uint8_t* s, const uint8_t* end) {
    const uint8_t lead = s[0];
    if (lead < 0xC2 || lead > 0xF4) {
        return 1;
    }
    // The second byte's range excludes overlongs (E0, F0), surrogates (ED) and
    // code points above U+10FFFF (F4).
    const uint8_t lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const uint8_t hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (end - s < 2 || s[1] < lo || s[1] > hi) {
        return 1;
    }
    const size_t need = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    size_t n = 2;
    while (n < need && s + n < end && IsContinuation(s[n])) {
        ++n;
    }
    return n;
}

// The decoder; its counting instance (kWrite false) has every store compiled out.
template <bool kWrite>
Status Decode(const uint8_t* s, size_t length, char16_t* out, size_t capacity, bool strict,
              size_t* produced) {
    const uint8_t* const end = s + length;
    size_t k = 0;
    while (s < end) {
        if (*s < 0x80) {
            // Whole blocks of ASCII. The block that ends the run is left to the
            // byte loop: its multi-byte tail may yield fewer than 8 units, and
            // nothing may be written past the converted text.
            while (end - s >= 8) {
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
            while (s < end && *s < 0x80) {
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
    *produced = k;
    return Status::kOk;
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

Status Encode(const char16_t* s, size_t length, uint8_t* out, size_t capacity, bool strict,
              size_t* produced) {
    const char16_t* const end = s + length;
    size_t k = 0;
    while (s < end) {
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
    *produced = k;
    return Status::kOk;
}

}  // namespace

Status ToUtf16(const uint8_t* in, size_t length, char16_t* out, size_t capacity, bool strict,
               size_t* produced) {
    return out == nullptr ? Decode<false>(in, length, nullptr, 0, strict, produced)
                          : Decode<true>(in, length, out, capacity, strict, produced);
}

Status ToUtf8(const char16_t* in, size_t length, uint8_t* out, size_t capacity, bool strict,
              size_t* produced) {
    return out == nullptr ? CountUtf8(in, length, strict, produced)
                          : Encode(in, length, out, capacity, strict, produced);
}

}  // namespace utf
