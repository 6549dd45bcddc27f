// SPDX-License-Identifier: MIT
// _vsnwprintf_s and _snwprintf_s with the Microsoft runtime's directives and
// buffer rules. Integers, characters, strings and pointers are formatted here;
// floating conversions in wide_float_posix.cpp.
#include <algorithm>
#include <cerrno>
#include <climits>

#include "pal/wide_crt.h"
#include "pal/wide_crt_internal.h"

namespace {

using wcrt::Args;
using wcrt::Directive;
using wcrt::Length;
using wcrt::Sink;

// Pads to the width around `body` units, which the caller then writes. The 0
// flag pads text with zeros too, as the Microsoft runtime does.
size_t LeadingPad(Sink& out, const Directive& d, size_t body) {
    const size_t pad = d.width > body ? d.width - body : 0;
    if (!d.left) {
        out.Repeat(d.zero ? u'0' : u' ', pad);
        return 0;
    }
    return pad;
}

void FormatInteger(Sink& out, Directive d, uint64_t magnitude, bool negative) {
    const char16_t conv = d.conversion;
    const unsigned base = conv == u'o'                                     ? 8
                          : (conv == u'x' || conv == u'X' || conv == u'p') ? 16
                                                                           : 10;
    const char* digitSet = d.conversion == u'x' ? "0123456789abcdef" : "0123456789ABCDEF";
    char digits[24];
    size_t n = 0;
    for (uint64_t v = magnitude; v != 0; v /= base) {
        digits[n++] = digitSet[v % base];
    }
    if (magnitude == 0 && d.precision != 0) {
        digits[n++] = '0';
    }

    char prefix[2];
    size_t prefixLength = 0;
    const bool isSigned = d.conversion == u'd' || d.conversion == u'i';
    if (negative) {
        prefix[prefixLength++] = '-';
    } else if (isSigned && d.plus) {
        prefix[prefixLength++] = '+';
    } else if (isSigned && d.space) {
        prefix[prefixLength++] = ' ';
    }
    size_t zeros = d.precision > 0 && static_cast<size_t>(d.precision) > n ? d.precision - n : 0;
    if (d.alt && base == 8 && zeros == 0 && (n == 0 || digits[n - 1] != '0')) {
        zeros = 1;
    }
    if (d.alt && base == 16 && magnitude != 0 && d.conversion != u'p') {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = static_cast<char>(d.conversion);
    }
    const size_t body = prefixLength + zeros + n;
    if (d.zero && !d.left && d.precision < 0 && d.width > body) {
        zeros += d.width - body;
    }
    d.zero = false;
    const size_t trailing = LeadingPad(out, d, prefixLength + zeros + n);
    out.PutBytes(prefix, prefixLength);
    out.Repeat(u'0', zeros);
    while (n > 0) {
        out.Put(static_cast<unsigned char>(digits[--n]));
    }
    out.Repeat(u' ', trailing);
}

// Reads an integer argument of the directive's size; `l` is 32 bits, as Windows' long.
bool ReadInteger(Args& a, const Directive& d, bool isSigned, uint64_t* magnitude, bool* negative) {
    int64_t s = 0;
    uint64_t u = 0;
    switch (d.length) {
        case Length::kNone:
        case Length::kL:
        case Length::kI32:
            s = va_arg(a.ap, int);
            u = static_cast<unsigned int>(s);
            break;
        case Length::kHH:
            s = va_arg(a.ap, int);
            u = static_cast<unsigned char>(s);
            s = static_cast<signed char>(s);
            break;
        case Length::kH:
            s = va_arg(a.ap, int);
            u = static_cast<unsigned short>(s);
            s = static_cast<short>(s);
            break;
        case Length::kLL:
        case Length::kI64:
            u = va_arg(a.ap, unsigned long long);
            s = static_cast<int64_t>(u);
            break;
        case Length::kPtr:
            u = va_arg(a.ap, uintptr_t);
            s = static_cast<intptr_t>(u);
            break;
        case Length::kBigL:
        case Length::kWide:
            return false;
    }
    *negative = isSigned && s < 0;
    *magnitude = !isSigned ? u : (s < 0 ? 0 - static_cast<uint64_t>(s) : static_cast<uint64_t>(s));
    return true;
}

// Strings are WCHAR text unless the directive names narrow text (%hs, %S);
// narrow text is taken byte for byte, as the runtime's "C" locale does.
bool FormatText(Sink& out, const Directive& d, Args& a) {
    const bool upper = d.conversion == u'S' || d.conversion == u'C';
    bool narrow = upper;
    if (d.length == Length::kH) {
        narrow = true;
    } else if (d.length == Length::kL || d.length == Length::kWide) {
        narrow = false;
    } else if (d.length != Length::kNone) {
        return false;
    }
    const bool isChar = d.conversion == u'c' || d.conversion == u'C';
    const size_t limit = d.precision >= 0 && !isChar ? static_cast<size_t>(d.precision) : SIZE_MAX;
    if (isChar) {
        const int c = va_arg(a.ap, int);
        const char16_t unit = narrow ? static_cast<unsigned char>(c) : static_cast<char16_t>(c);
        const size_t trailing = LeadingPad(out, d, 1);
        out.Put(unit);
        out.Repeat(u' ', trailing);
        return true;
    }
    const void* p = va_arg(a.ap, const void*);
    static const char kNull[] = "(null)";
    if (p == nullptr) {
        narrow = true;
        p = kNull;
    }
    size_t n = 0;
    if (narrow) {
        const auto* s = static_cast<const unsigned char*>(p);
        while (n < limit && s[n] != 0) {
            ++n;
        }
        const size_t trailing = LeadingPad(out, d, n);
        out.PutBytes(static_cast<const char*>(p), n);
        out.Repeat(u' ', trailing);
    } else {
        const auto* s = static_cast<const WCHAR*>(p);
        while (n < limit && s[n] != 0) {
            ++n;
        }
        const size_t trailing = LeadingPad(out, d, n);
        for (size_t i = 0; i < n; ++i) {
            out.Put(s[i]);
        }
        out.Repeat(u' ', trailing);
    }
    return true;
}

// Reads a decimal number from the format; false when it does not fit an int.
bool ParseNumber(const WCHAR*& f, size_t* value) {
    size_t v = 0;
    while (*f >= u'0' && *f <= u'9') {
        v = v * 10 + (*f++ - u'0');
        if (v > INT_MAX) {
            return false;
        }
    }
    *value = v;
    return true;
}

bool ParseDirective(const WCHAR*& f, Args& a, Directive* d) {
    for (;; ++f) {
        if (*f == u'-') {
            d->left = true;
        } else if (*f == u'+') {
            d->plus = true;
        } else if (*f == u' ') {
            d->space = true;
        } else if (*f == u'#') {
            d->alt = true;
        } else if (*f == u'0') {
            d->zero = true;
        } else {
            break;
        }
    }
    if (*f == u'*') {
        ++f;
        const int w = va_arg(a.ap, int);
        if (w < 0) {
            d->left = true;
        }
        d->width = static_cast<size_t>(w < 0 ? -static_cast<int64_t>(w) : w);
    } else if (!ParseNumber(f, &d->width)) {
        return false;
    }
    if (*f == u'.') {
        ++f;
        if (*f == u'*') {
            ++f;
            const int p = va_arg(a.ap, int);
            d->precision = p < 0 ? -1 : p;
        } else {
            size_t p = 0;
            if (!ParseNumber(f, &p)) {
                return false;
            }
            d->precision = static_cast<int>(p);
        }
    }
    switch (*f) {
        case u'h':
            d->length = f[1] == u'h' ? (++f, Length::kHH) : Length::kH;
            ++f;
            break;
        case u'l':
            d->length = f[1] == u'l' ? (++f, Length::kLL) : Length::kL;
            ++f;
            break;
        case u'L':
            d->length = Length::kBigL;
            ++f;
            break;
        case u'w':
            d->length = Length::kWide;
            ++f;
            break;
        case u'j':
            d->length = Length::kI64;
            ++f;
            break;
        case u'z':
        case u't':
            d->length = Length::kPtr;
            ++f;
            break;
        case u'I':
            if (f[1] == u'3' && f[2] == u'2') {
                d->length = Length::kI32;
                f += 3;
            } else if (f[1] == u'6' && f[2] == u'4') {
                d->length = Length::kI64;
                f += 3;
            } else {
                d->length = Length::kPtr;
                ++f;
            }
            break;
        default:
            break;
    }
    d->conversion = *f;
    if (*f != 0) {
        ++f;
    }
    return true;
}

// Formats the whole text; false on a directive the runtime rejects.
bool FormatAll(Sink& out, const WCHAR* f, Args& a) {
    while (*f != 0) {
        if (*f != u'%') {
            out.Put(*f++);
            continue;
        }
        ++f;
        Directive d;
        if (!ParseDirective(f, a, &d)) {
            return false;
        }
        bool ok = true;
        uint64_t magnitude = 0;
        bool negative = false;
        switch (d.conversion) {
            case u'%':
                out.Put(u'%');
                break;
            case u'd':
            case u'i':
            case u'u':
            case u'o':
            case u'x':
            case u'X': {
                const bool isSigned = d.conversion == u'd' || d.conversion == u'i';
                ok = ReadInteger(a, d, isSigned, &magnitude, &negative);
                if (ok) {
                    FormatInteger(out, d, magnitude, negative);
                }
                break;
            }
            case u'p':
                // Every hex digit of the address, upper case, no prefix.
                ok = d.length == Length::kNone;
                if (ok) {
                    d.precision = 2 * sizeof(void*);
                    d.alt = d.plus = d.space = d.zero = false;
                    FormatInteger(out, d, reinterpret_cast<uintptr_t>(va_arg(a.ap, void*)), false);
                }
                break;
            case u'c':
            case u'C':
            case u's':
            case u'S':
                ok = FormatText(out, d, a);
                break;
            case u'e':
            case u'E':
            case u'f':
            case u'F':
            case u'g':
            case u'G':
            case u'a':
            case u'A':
                ok = wcrt::FormatFloating(out, d, a);
                break;
            default:  // unknown letters, a lone trailing '%', and %n, which the runtime disables
                ok = false;
                break;
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace

int _vsnwprintf_s(WCHAR* buffer, size_t sizeOfBuffer, size_t count, const WCHAR* format,
                  va_list args) {
    if (format == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (count == 0 && buffer == nullptr && sizeOfBuffer == 0) {
        return 0;  // nothing asked, nothing to do
    }
    if (buffer == nullptr || sizeOfBuffer == 0) {
        errno = EINVAL;
        return -1;
    }
    const bool limitedByCount = count < sizeOfBuffer;
    const size_t room = limitedByCount ? count : sizeOfBuffer - 1;
    Sink out(buffer, room);
    Args a;
    va_copy(a.ap, args);
    const bool ok = FormatAll(out, format, a);
    va_end(a.ap);
    if (!ok) {
        // Windows documents no buffer content here; the reference runtime (Wine's)
        // keeps the text before the bad directive, terminated.
        buffer[std::min(out.size(), room)] = 0;
        errno = EINVAL;
        return -1;
    }
    const size_t n = out.size();
    if (n <= room) {
        buffer[n] = 0;
        return n > INT_MAX ? -1 : static_cast<int>(n);
    }
    buffer[room] = 0;
    if (limitedByCount || count == _TRUNCATE) {
        return -1;
    }
    buffer[0] = 0;
    errno = ERANGE;
    return -1;
}

int _snwprintf_s(WCHAR* buffer, size_t sizeOfBuffer, size_t count, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = _vsnwprintf_s(buffer, sizeOfBuffer, count, format, args);
    va_end(args);
    return n;
}
