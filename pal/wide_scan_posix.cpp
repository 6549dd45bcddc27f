// SPDX-License-Identifier: MIT
// vswscanf_s and swscanf_s with the Microsoft runtime's rules: `l` is 32 bits,
// %s %c %[ take a buffer size after the pointer, and integers that overflow
// wrap to the width of their target.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pal/wide_crt.h"
#include "pal/wide_crt_internal.h"

namespace {

using wcrt::Args;

enum class Size { kDefault, kHH, kH, kL, kLL, kBigL, kPtr, kWide };

bool IsSpace(char16_t c) {
    return c == u' ' || (c >= 0x09 && c <= 0x0D);
}

int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'z') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'Z') {
        return c - u'A' + 10;
    }
    return 99;
}

template <typename T>
void Store(void* p, uint64_t v) {
    const auto x = static_cast<T>(v);
    std::memcpy(p, &x, sizeof x);
}

// Stores the low bytes of `v` in the integer the directive's size names.
void StoreInteger(void* p, Size size, uint64_t v) {
    switch (size) {
        case Size::kHH:
            return Store<uint8_t>(p, v);
        case Size::kH:
            return Store<uint16_t>(p, v);
        case Size::kLL:
        case Size::kBigL:
            return Store<uint64_t>(p, v);
        case Size::kPtr:
            return Store<uintptr_t>(p, v);
        default:
            return Store<uint32_t>(p, v);
    }
}

// Reads an optionally signed integer of at most `width` units. Base 0 follows
// the 0x / 0 prefixes; base 16 accepts an optional 0x. Accumulates modulo 2^64.
bool ReadInteger(const WCHAR*& s, size_t width, int base, uint64_t* value) {
    bool negative = false;
    if (width > 0 && (*s == u'+' || *s == u'-')) {
        negative = *s++ == u'-';
        --width;
    }
    bool anyDigit = false;
    if ((base == 0 || base == 16) && width > 0 && *s == u'0') {
        ++s;
        --width;
        anyDigit = true;
        if (width > 0 && (*s == u'x' || *s == u'X')) {
            ++s;
            --width;
            base = 16;
        } else if (base == 0) {
            base = 8;
        }
    }
    if (base == 0) {
        base = 10;
    }
    uint64_t v = 0;
    for (; width > 0 && DigitValue(*s) < base; --width) {
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(DigitValue(*s++));
        anyDigit = true;
    }
    *value = negative ? 0 - v : v;
    return anyDigit;
}

// Parses a scanset after its '['; false when the format does not close it.
bool ParseScanset(const WCHAR*& f, const WCHAR** begin, const WCHAR** end, bool* negated) {
    *negated = *f == u'^';
    if (*negated) {
        ++f;
    }
    *begin = f;
    if (*f == u']') {
        ++f;
    }
    while (*f != 0 && *f != u']') {
        ++f;
    }
    if (*f == 0) {
        return false;
    }
    *end = f++;
    return true;
}

bool InScanset(char16_t c, const WCHAR* begin, const WCHAR* end, bool negated) {
    bool found = false;
    for (const WCHAR* q = begin; q < end && !found; ++q) {
        if (q + 2 < end && q[1] == u'-') {
            const char16_t lo = q[0] < q[2] ? q[0] : q[2];
            const char16_t hi = q[0] < q[2] ? q[2] : q[0];
            found = c >= lo && c <= hi;
            q += 2;
        } else {
            found = c == *q;
        }
    }
    return found != negated;
}

// Copies `n` units to a caller's buffer of `size` elements (WCHAR or char),
// with a terminator when `terminate`. False when it does not fit, or when a
// unit has no single-byte form for a narrow buffer.
bool StoreText(void* p, size_t size, bool narrow, const WCHAR* s, size_t n, bool terminate) {
    bool fits = n + (terminate ? 1 : 0) <= size;
    for (size_t i = 0; fits && narrow && i < n; ++i) {
        fits = s[i] <= 0xFF;
    }
    if (!fits) {
        if (size > 0) {
            narrow ? (void)(*static_cast<char*>(p) = 0) : (void)(*static_cast<WCHAR*>(p) = 0);
        }
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (narrow) {
            static_cast<char*>(p)[i] = static_cast<char>(s[i]);
        } else {
            static_cast<WCHAR*>(p)[i] = s[i];
        }
    }
    if (terminate) {
        narrow ? (void)(static_cast<char*>(p)[n] = 0) : (void)(static_cast<WCHAR*>(p)[n] = 0);
    }
    return true;
}

enum class Outcome { kAssigned, kSkipped, kMismatch, kEnded };

// Runs one conversion from `s`; `f` points just past the conversion letter.
Outcome Convert(const WCHAR* input, const WCHAR*& s, const WCHAR*& f, char16_t conv, bool suppress,
                size_t width, Size size, Args& a) {
    const bool text = conv == u'c' || conv == u'C' || conv == u's' || conv == u'S' || conv == u'[';
    if (conv != u'c' && conv != u'C' && conv != u'[' && conv != u'n') {
        while (IsSpace(*s)) {
            ++s;
        }
    }
    if (conv == u'n') {
        if (!suppress) {
            StoreInteger(va_arg(a.ap, void*), size, static_cast<uint64_t>(s - input));
        }
        return Outcome::kSkipped;
    }
    if (text) {
        const WCHAR* setBegin = nullptr;
        const WCHAR* setEnd = nullptr;
        bool negated = false;
        if (conv == u'[' && !ParseScanset(f, &setBegin, &setEnd, &negated)) {
            return Outcome::kMismatch;
        }
        if (*s == 0) {
            return Outcome::kEnded;
        }
        const bool isChar = conv == u'c' || conv == u'C';
        size_t limit = width != 0 ? width : (isChar ? 1 : SIZE_MAX);
        size_t n = 0;
        while (n < limit && s[n] != 0 &&
               (isChar ||
                (conv == u'[' ? InScanset(s[n], setBegin, setEnd, negated) : !IsSpace(s[n])))) {
            ++n;
        }
        if (n == 0) {
            return Outcome::kMismatch;
        }
        bool narrow = conv == u'C' || conv == u'S';
        narrow = size == Size::kH                            ? true
                 : (size == Size::kL || size == Size::kWide) ? false
                                                             : narrow;
        if (!suppress) {
            void* p = va_arg(a.ap, void*);
            const UINT room = va_arg(a.ap, UINT);
            if (p == nullptr || !StoreText(p, room, narrow, s, n, !isChar)) {
                return Outcome::kMismatch;
            }
        }
        s += n;
        return suppress ? Outcome::kSkipped : Outcome::kAssigned;
    }
    if (*s == 0) {
        return Outcome::kEnded;
    }
    const size_t limit = width != 0 ? width : SIZE_MAX;
    switch (conv) {
        case u'd':
        case u'i':
        case u'u':
        case u'o':
        case u'x':
        case u'X':
        case u'p': {
            const int base = conv == u'i'                     ? 0
                             : conv == u'o'                   ? 8
                             : (conv == u'd' || conv == u'u') ? 10
                                                              : 16;
            uint64_t v = 0;
            if (!ReadInteger(s, limit, base, &v)) {
                return *s == 0 ? Outcome::kEnded : Outcome::kMismatch;
            }
            if (!suppress) {
                StoreInteger(va_arg(a.ap, void*), conv == u'p' ? Size::kPtr : size, v);
            }
            break;
        }
        case u'e':
        case u'E':
        case u'f':
        case u'F':
        case u'g':
        case u'G':
        case u'a':
        case u'A': {
            double v = 0;
            if (!wcrt::ReadFloating(s, limit, &v)) {
                return *s == 0 ? Outcome::kEnded : Outcome::kMismatch;
            }
            if (!suppress) {
                if (size == Size::kBigL) {
                    *va_arg(a.ap, long double*) = v;
                } else if (size == Size::kL || size == Size::kLL) {
                    *va_arg(a.ap, double*) = v;
                } else {
                    *va_arg(a.ap, float*) = static_cast<float>(v);
                }
            }
            break;
        }
        default:
            return Outcome::kMismatch;  // not a conversion the runtime knows
    }
    return suppress ? Outcome::kSkipped : Outcome::kAssigned;
}

Size ParseSize(const WCHAR*& f) {
    switch (*f) {
        case u'h':
            return *++f == u'h' ? (++f, Size::kHH) : Size::kH;
        case u'l':
            return *++f == u'l' ? (++f, Size::kLL) : Size::kL;
        case u'L':
            return ++f, Size::kBigL;
        case u'w':
            return ++f, Size::kWide;
        case u'j':
            return ++f, Size::kLL;
        case u'z':
        case u't':
            return ++f, Size::kPtr;
        case u'I':
            if (f[1] == u'3' && f[2] == u'2') {
                return f += 3, Size::kDefault;
            }
            if (f[1] == u'6' && f[2] == u'4') {
                return f += 3, Size::kLL;
            }
            return ++f, Size::kPtr;
        default:
            return Size::kDefault;
    }
}

int ScanAll(const WCHAR* input, const WCHAR* f, Args& a) {
    const WCHAR* s = input;
    int assigned = 0;
    bool anyConversion = false;
    bool ended = false;
    while (*f != 0) {
        if (IsSpace(*f)) {
            while (IsSpace(*f)) {
                ++f;
            }
            while (IsSpace(*s)) {
                ++s;
            }
            continue;
        }
        if (*f != u'%' || f[1] == u'%') {
            f += *f == u'%' ? 1 : 0;
            if (*s == 0) {
                ended = true;
                break;
            }
            if (*s != *f) {
                break;
            }
            ++s;
            ++f;
            continue;
        }
        ++f;
        const bool suppress = *f == u'*';
        f += suppress ? 1 : 0;
        size_t width = 0;
        for (; *f >= u'0' && *f <= u'9'; ++f) {
            width = width < 100000000 ? width * 10 + (*f - u'0') : width;
        }
        const Size size = ParseSize(f);
        const char16_t conv = *f;
        if (conv == 0) {
            break;
        }
        ++f;
        const Outcome o = Convert(input, s, f, conv, suppress, width, size, a);
        if (o == Outcome::kEnded) {
            ended = true;
            break;
        }
        if (o == Outcome::kMismatch) {
            break;
        }
        if (conv != u'n') {
            anyConversion = true;
        }
        assigned += o == Outcome::kAssigned ? 1 : 0;
    }
    return ended && assigned == 0 && !anyConversion ? EOF : assigned;
}

}  // namespace

int vswscanf_s(const WCHAR* buffer, const WCHAR* format, va_list args) {
    if (buffer == nullptr || format == nullptr) {
        errno = EINVAL;
        return EOF;
    }
    Args a;
    va_copy(a.ap, args);
    const int n = ScanAll(buffer, format, a);
    va_end(a.ap);
    return n;
}

int swscanf_s(const WCHAR* buffer, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = vswscanf_s(buffer, format, args);
    va_end(args);
    return n;
}
