// SPDX-License-Identifier: MIT
// Floating-point text for the wide formatter and scanner, independent of the
// process locale when reading.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <system_error>

#include "pal/wide_crt_internal.h"

namespace wcrt {
namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace

// Significant digits go to a narrow buffer with a rebuilt exponent; leading
// zeros and digits past the buffer only move the exponent.
bool ReadFloating(const WCHAR*& s, size_t width, double* value) {
    // Units are examined strictly in order and never past a NUL.
    const auto at = [s, width](size_t k) -> char16_t { return k < width ? s[k] : 0; };
    size_t i = 0;
    bool negative = false;
    if (at(i) == u'+' || at(i) == u'-') {
        negative = at(i++) == u'-';
    }
    for (const char* word : {"infinity", "inf", "nan"}) {
        size_t k = 0;
        while (word[k] != 0 && (at(i + k) | 0x20) == word[k]) {
            ++k;
        }
        if (word[k] == 0) {
            s += i + k;
            *value = word[0] == 'n' ? std::nan("") : HUGE_VAL;
            *value = negative ? -*value : *value;
            return true;
        }
    }
    // Past kMaxDigits significant digits only whether any dropped digit was
    // non-zero matters: a sticky 1 after the kept ones rounds as the full text
    // would, since no double's rounding midpoint has that many digits.
    char text[800];
    const size_t kMaxDigits = sizeof text - 32;  // room for the sticky digit and the exponent
    size_t n = 0;
    long long scale = 0;  // value = digits x 10^(scale + exponent)
    bool any = false;
    bool sticky = false;
    const auto keep = [&](char16_t digit, bool fraction) {
        if (n < kMaxDigits) {
            text[n++] = static_cast<char>(digit);
            scale -= fraction ? 1 : 0;
        } else {
            scale += fraction ? 0 : 1;
            sticky = sticky || digit != u'0';
        }
    };
    for (; IsDigit(at(i)); ++i) {
        any = true;
        if (n != 0 || at(i) != u'0') {
            keep(at(i), false);
        }
    }
    if (at(i) == u'.') {
        for (++i; IsDigit(at(i)); ++i) {
            any = true;
            if (n == 0 && at(i) == u'0') {
                --scale;
            } else {
                keep(at(i), true);
            }
        }
    }
    if (sticky) {
        text[n++] = '1';
        --scale;
    }
    if (!any) {
        return false;
    }
    long long exponent = 0;
    if (at(i) == u'e' || at(i) == u'E') {
        size_t k = i + 1;
        bool expNegative = false;
        if (at(k) == u'+' || at(k) == u'-') {
            expNegative = at(k++) == u'-';
        }
        if (IsDigit(at(k))) {
            for (; IsDigit(at(k)); ++k) {
                exponent = exponent < 100000000 ? exponent * 10 + (at(k) - u'0') : exponent;
            }
            exponent = expNegative ? -exponent : exponent;
            i = k;
        }
    }
    double v = 0;
    if (n > 0) {
        const int e = std::snprintf(text + n, sizeof text - n, "e%lld", scale + exponent);
        const auto r = std::from_chars(text, text + n + static_cast<size_t>(e), v);
        if (r.ec == std::errc::result_out_of_range) {
            v = static_cast<long long>(n) + scale + exponent > 0 ? HUGE_VAL : 0.0;
        } else if (r.ec != std::errc()) {
            return false;
        }
    }
    s += i;
    *value = negative ? -v : v;
    return true;
}

// Floating conversions through the C library, which only ever sees a bounded
// request: the width is applied here, and precision beyond the point where a
// binary fraction's decimal expansion has ended only adds zeros, which are
// added here too. Windows' %a shows all 13 fraction digits of a double when no
// precision is given.
bool FormatFloating(Sink& out, const Directive& d, Args& a) {
    if (d.length != Length::kNone && d.length != Length::kL && d.length != Length::kBigL) {
        return false;
    }
    const bool isLong = d.length == Length::kBigL;
    const char16_t conv = d.conversion;
    const bool hex = conv == u'a' || conv == u'A';
    const bool general = conv == u'g' || conv == u'G';
    int precision = d.precision < 0 && hex && !isLong ? 13 : d.precision;
    const int exact = isLong ? 17000 : 1100;
    size_t moreZeros = 0;
    if (precision > exact) {
        moreZeros = general && !d.alt ? 0 : static_cast<size_t>(precision - exact);
        precision = exact;
    }

    char format[12];
    size_t f = 0;
    format[f++] = '%';
    const bool on[3] = {d.plus, d.space, d.alt};
    for (int i = 0; i < 3; ++i) {
        if (on[i]) {
            format[f++] = "+ #"[i];
        }
    }
    format[f++] = '.';
    format[f++] = '*';
    if (isLong) {
        format[f++] = 'L';
    }
    format[f++] = static_cast<char>(conv);
    format[f] = 0;

    char local[128];
    char* text = local;
    const long double wide = isLong ? va_arg(a.ap, long double) : 0;
    const double narrow = isLong ? 0 : va_arg(a.ap, double);
    const auto print = [&](char* to, size_t size) {
        return isLong ? std::snprintf(to, size, format, precision, wide)
                      : std::snprintf(to, size, format, precision, narrow);
    };
    const int printed = print(local, sizeof local);
    if (printed < 0) {
        return false;
    }
    const auto n = static_cast<size_t>(printed);
    if (n >= sizeof local) {
        text = static_cast<char*>(std::malloc(n + 1));
        if (text == nullptr) {
            return false;
        }
        print(text, n + 1);
    }

    const size_t sign = (text[0] == '-' || text[0] == '+' || text[0] == ' ') ? 1 : 0;
    const bool finite = text[sign] >= '0' && text[sign] <= '9';
    const size_t prefix = sign + (hex && finite ? 2 : 0);
    // Added zeros go before the exponent: 'p' in hex, where 'e' is a digit.
    const char mark = hex ? 'p' : 'e';
    size_t exponent = n;
    for (size_t i = prefix; i < n && conv != u'f' && conv != u'F'; ++i) {
        if ((text[i] | 0x20) == mark) {
            exponent = i;
            break;
        }
    }
    moreZeros = finite ? moreZeros : 0;
    const size_t body = n + moreZeros;
    const size_t pad = d.width > body ? d.width - body : 0;
    const bool zeroPad = d.zero && !d.left && finite;
    if (!d.left && !zeroPad) {
        out.Repeat(u' ', pad);
    }
    out.PutBytes(text, prefix);
    if (zeroPad) {
        out.Repeat(u'0', pad);
    }
    out.PutBytes(text + prefix, exponent - prefix);
    out.Repeat(u'0', moreZeros);
    out.PutBytes(text + exponent, n - exponent);
    if (d.left) {
        out.Repeat(u' ', pad);
    }
    if (text != local) {
        std::free(text);
    }
    return true;
}

}  // namespace wcrt
