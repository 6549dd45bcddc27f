// MultiByteToWideChar / WideCharToMultiByte for UTF-8 and Windows-1252.
//
// Both calls of the two-call protocol are hot, so the size query never writes:
// the UTF-8 decoder is a template whose counting instance has every store
// compiled out, and UTF-16 is measured by a branch-light count. ASCII runs move
// 8 bytes (or 4 UTF-16 units) per step, tested with one mask.
#include <bit>
#include <climits>
#include <cstring>

#include "pal/codepage.h"
#include "pal/error.h"

namespace {

constexpr uint64_t kAsciiBytesMask = 0x8080808080808080ull;
constexpr uint64_t kAsciiUnitsMask = 0xFF80FF80FF80FF80ull;
constexpr char16_t kReplacement = 0xFFFD;

enum class Status { kOk, kInvalid, kNoRoom };

// Bytes 0x80-0x9F of Windows-1252. Windows maps the five bytes the code page
// leaves undefined to the C1 controls of the same value, so every byte converts.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct Cp1252Table {
    char16_t unit[256];
};

constexpr Cp1252Table MakeCp1252Table() {
    Cp1252Table t{};
    for (int b = 0; b < 256; ++b) {
        t.unit[b] = (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
    }
    return t;
}

constexpr Cp1252Table kCp1252 = MakeCp1252Table();

// The Windows-1252 byte for `c`, or -1 when the code page has none.
int Cp1252Byte(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return c;
    }
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == c) {
            return 0x80 + i;
        }
    }
    return -1;
}

inline bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

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

// UTF-8 to UTF-16. `*produced` receives the number of units (written or not).
template <bool kWrite>
Status Utf8ToUtf16(const uint8_t* s, size_t length, char16_t* out, size_t capacity, bool strict,
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
                len = ((b1 & 0xC0) == 0x80) & (b0 >= 0xC2) ? 2 : 0;
            } else if ((b0 & 0xF0) == 0xE0) {
                cp = ((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
                len = ((b1 & 0xC0) == 0x80) & ((b2 & 0xC0) == 0x80) & (cp >= 0x800) &
                              (cp - 0xD800 >= 0x800)
                          ? 3
                          : 0;
            } else if ((b0 & 0xF8) == 0xF0) {
                const uint32_t b3 = s[3];
                cp = ((b0 & 0x07) << 18) | ((b1 & 0x3F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F);
                len = ((b1 & 0xC0) == 0x80) & ((b2 & 0xC0) == 0x80) & ((b3 & 0xC0) == 0x80) &
                              (cp >= 0x10000) & (cp <= 0x10FFFF)
                          ? 4
                          : 0;
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

// Length of the UTF-8 form: one byte per unit, one more from U+0080, another
// from U+0800; a valid surrogate pair (3 + 1 so far) needs 4. Blocks of four
// units without surrogates are counted in the lanes of one word.
Status CountUtf8(const char16_t* s, size_t length, bool strict, size_t* produced) {
    constexpr uint64_t kTop5 = 0xF800F800F800F800ull;
    constexpr uint64_t kOnes = 0x0001000100010001ull;
    size_t total = length;
    size_t i = 0;
    while (i < length) {
        uint64_t lanes = 0;
        for (int blocks = 0; length - i >= 4 && blocks < 16384; ++blocks) {
            uint64_t v;
            std::memcpy(&v, s + i, 8);
            const uint64_t z = (v & kTop5) ^ 0xD800D800D800D800ull;  // zero lane: a surrogate
            if (((z - kOnes) & ~z & 0x8000800080008000ull) != 0) {
                break;
            }
            lanes += NonZeroLanes(v & kAsciiUnitsMask, 7) + NonZeroLanes(v & kTop5, 11);
            i += 4;
        }
        total += SumLanes(lanes);
        if (i == length) {
            break;
        }
        const uint32_t c = s[i];
        total += (c >= 0x80) + (c >= 0x800);
        if ((c & 0xF800) == 0xD800) {
            if (c <= 0xDBFF && i + 1 < length && (s[i + 1] & 0xFC00) == 0xDC00) {
                ++i;
            } else if (strict) {
                return Status::kInvalid;
            }
        }
        ++i;
    }
    *produced = total;
    return Status::kOk;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD unless `strict`.
Status Utf16ToUtf8(const char16_t* s, size_t length, uint8_t* out, size_t capacity, bool strict,
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

enum class Codec { kCp1252, kUtf8, kUnknown };

Codec CodecOf(UINT codePage) {
    if (codePage == CP_ACP || codePage == 1252) {
        return Codec::kCp1252;
    }
    return codePage == CP_UTF8 ? Codec::kUtf8 : Codec::kUnknown;
}

// Turns a converter's outcome into the API's return value and last error.
int Finish(Status status, size_t produced) {
    switch (status) {
        case Status::kInvalid:
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        case Status::kNoRoom:
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        case Status::kOk:
            break;
    }
    // No int-sized buffer can hold more, whatever the caller offers.
    if (produced > static_cast<size_t>(INT_MAX)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(produced);
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByteStr, int cbMultiByte,
                        LPWSTR wideCharStr, int cchWideChar) {
    if (multiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && wideCharStr == nullptr) ||
        static_cast<const void*>(multiByteStr) == static_cast<const void*>(wideCharStr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const Codec codec = CodecOf(codePage);
    if (codec == Codec::kUnknown) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // MB_COMPOSITE and MB_USEGLYPHCHARS change the output on Windows; they are
    // refused rather than silently ignored.
    const DWORD allowed =
        codec == Codec::kUtf8 ? MB_ERR_INVALID_CHARS : MB_PRECOMPOSED | MB_ERR_INVALID_CHARS;
    if (flags & ~allowed) {
        return Fail(ERROR_INVALID_FLAGS);
    }

    const size_t length =
        cbMultiByte < 0 ? std::strlen(multiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const auto* src = reinterpret_cast<const uint8_t*>(multiByteStr);
    const size_t capacity = static_cast<size_t>(cchWideChar);

    if (codec == Codec::kCp1252) {
        // One unit per byte, and every byte is defined.
        if (capacity == 0) {
            return Finish(Status::kOk, length);
        }
        if (length > capacity) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        for (size_t i = 0; i < length; ++i) {
            wideCharStr[i] = kCp1252.unit[src[i]];
        }
        return Finish(Status::kOk, length);
    }

    const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    size_t produced = 0;
    const Status status =
        capacity == 0 ? Utf8ToUtf16<false>(src, length, nullptr, 0, strict, &produced)
                      : Utf8ToUtf16<true>(src, length, wideCharStr, capacity, strict, &produced);
    return Finish(status, produced);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideCharStr, int cchWideChar,
                        LPSTR multiByteStr, int cbMultiByte, LPCSTR defaultChar,
                        LPBOOL usedDefaultChar) {
    if (wideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && multiByteStr == nullptr) ||
        static_cast<const void*>(wideCharStr) == static_cast<const void*>(multiByteStr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const Codec codec = CodecOf(codePage);
    if (codec == Codec::kUnknown) {
        return Fail(ERROR_INVALID_PARAMETER);
    }

    size_t length = 0;
    if (cchWideChar < 0) {
        while (wideCharStr[length] != 0) {
            ++length;
        }
        ++length;
    } else {
        length = static_cast<size_t>(cchWideChar);
    }
    auto* dst = reinterpret_cast<uint8_t*>(multiByteStr);
    const size_t capacity = static_cast<size_t>(cbMultiByte);

    if (codec == Codec::kUtf8) {
        // UTF-8 can encode everything, so a default character makes no sense.
        if (defaultChar != nullptr || usedDefaultChar != nullptr) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        if (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) {
            return Fail(ERROR_INVALID_FLAGS);
        }
        const bool strict = (flags & WC_ERR_INVALID_CHARS) != 0;
        size_t produced = 0;
        const Status status =
            capacity == 0 ? CountUtf8(wideCharStr, length, strict, &produced)
                          : Utf16ToUtf8(wideCharStr, length, dst, capacity, strict, &produced);
        return Finish(status, produced);
    }

    // Windows-1252. There is no best-fit mapping here: every character without
    // an exact form becomes the default character, so WC_NO_BEST_FIT_CHARS and
    // the composite-check flags leave the output unchanged.
    if (flags & ~static_cast<DWORD>(WC_NO_BEST_FIT_CHARS | WC_COMPOSITECHECK | WC_DEFAULTCHAR |
                                    WC_DISCARDNS | WC_SEPCHARS)) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    const uint8_t fallback = defaultChar != nullptr ? static_cast<uint8_t>(defaultChar[0]) : '?';
    if (capacity != 0 && length > capacity) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    bool used = false;
    if (capacity != 0 || usedDefaultChar != nullptr) {
        for (size_t i = 0; i < length; ++i) {
            int b = Cp1252Byte(wideCharStr[i]);
            if (b < 0) {
                used = true;
                b = fallback;
            }
            if (capacity != 0) {
                dst[i] = static_cast<uint8_t>(b);
            }
        }
    }
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = used ? TRUE : FALSE;
    }
    return Finish(Status::kOk, length);
}
