// _vsnwprintf_s and _snwprintf_s with the Microsoft runtime's directives and
// buffer rules. Integers, characters, strings and pointers are formatted here;
// floating conversions go through snprintf with a rebuilt narrow directive.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "pal/wide_crt.h"

namespace {

// Collects output up to `room` units and counts everything beyond, so the
// caller can tell a cut-short result from one that fitted.
class Sink {
public:
    Sink(WCHAR* buffer, size_t room) : buffer_(buffer), room_(room) {}

    void Put(char16_t c) {
        if (size_ < room_) {
            buffer_[size_] = c;
        }
        ++size_;
    }
    void Repeat(char16_t c, size_t count) {
        for (size_t i = size_; i < room_ && i < size_ + count; ++i) {
            buffer_[i] = c;
        }
        size_ += count;
    }
    void PutBytes(const char* s, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            Put(static_cast<unsigned char>(s[i]));
        }
    }
    // Counts units that are produced but not kept.
    void Skip(size_t n) { size_ += n; }
    size_t size() const { return size_; }
    size_t Remaining() const { return size_ < room_ ? room_ - size_ : 0; }

private:
    WCHAR* buffer_;
    size_t room_;
    size_t size_ = 0;
};

struct Args {
    va_list ap;
};

enum class Length { kNone, kHH, kH, kL, kLL, kBigL, kI32, kI64, kPtr, kWide };

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    size_t width = 0;
    int precision = -1;  // -1: none given
    Length length = Length::kNone;
    char16_t conversion = 0;
};

// Pads to the width around `body` units, which the caller then writes.
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
    const unsigned base = conv == u'o' ? 8 : (conv == u'x' || conv == u'X' || conv == u'p') ? 16 : 10;
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

// Floating conversions through the C library. Windows' %a shows all 13
// fraction digits of a double when no precision is given.
bool FormatFloating(Sink& out, const Directive& d, Args& a) {
    if (d.length != Length::kNone && d.length != Length::kL && d.length != Length::kBigL) {
        return false;
    }
    char format[16];
    size_t f = 0;
    format[f++] = '%';
    const bool on[5] = {d.left, d.plus, d.space, d.alt, d.zero};
    for (int i = 0; i < 5; ++i) {
        if (on[i]) {
            format[f++] = "-+ #0"[i];
        }
    }
    format[f++] = '*';
    format[f++] = '.';
    format[f++] = '*';
    if (d.length == Length::kBigL) {
        format[f++] = 'L';
    }
    format[f++] = static_cast<char>(d.conversion);
    format[f] = 0;

    const int width = d.width > INT_MAX ? INT_MAX : static_cast<int>(d.width);
    int precision = d.precision;
    const bool hex = d.conversion == u'a' || d.conversion == u'A';
    if (hex && precision < 0 && d.length != Length::kBigL) {
        precision = 13;
    }
    // Only the part that can still be stored is kept, so a huge width or
    // precision costs no memory; the rest is only counted.
    char local[128];
    char* text = local;
    const long double wide = d.length == Length::kBigL ? va_arg(a.ap, long double) : 0;
    const double narrow = d.length == Length::kBigL ? 0 : va_arg(a.ap, double);
    const auto print = [&](char* to, size_t size) {
        return d.length == Length::kBigL ? std::snprintf(to, size, format, width, precision, wide)
                                         : std::snprintf(to, size, format, width, precision, narrow);
    };
    const int n = print(local, sizeof local);
    if (n < 0) {
        return false;
    }
    size_t kept = static_cast<size_t>(n);
    if (kept >= sizeof local) {
        kept = kept < out.Remaining() ? kept : out.Remaining();
        if (kept >= sizeof local) {
            text = static_cast<char*>(std::malloc(kept + 1));
            if (text == nullptr) {
                return false;
            }
            print(text, kept + 1);
        }
    }
    out.PutBytes(text, kept);
    out.Skip(static_cast<size_t>(n) - kept);
    if (text != local) {
        std::free(text);
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
                ok = FormatFloating(out, d, a);
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
        buffer[0] = 0;
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
