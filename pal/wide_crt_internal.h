// SPDX-License-Identifier: MIT
// Internal to the POSIX layer: what the wide formatter, the wide scanner and
// their floating-point conversions (wide_float_posix.cpp) share. Not included
// by mailbroker code, which sees only pal/win32.h.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "pal/types.h"

namespace wcrt {

// The simple one-to-one lower-case mapping of Latin, Greek, Cyrillic, Armenian
// and full-width Latin letters, whatever the locale: how the registry folds
// key and value names, which Windows compares without regard to case in every
// script. (_wcslwr_s lowers A-Z only, as in the "C" locale.)
char16_t FoldCase(char16_t c);

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
    size_t size() const { return size_; }

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

// Formats one floating directive (e E f F g G a A); false when its length
// modifier does not apply or the C library fails.
bool FormatFloating(Sink& out, const Directive& d, Args& a);

// Reads a decimal floating-point number (or inf / infinity / nan) of at most
// `width` units from `s` and advances past it; false when none starts there.
bool ReadFloating(const WCHAR*& s, size_t width, double* value);

}  // namespace wcrt
