// SPDX-License-Identifier: MIT
// MultiByteToWideChar / WideCharToMultiByte for UTF-8 and Windows-1252: the
// Win32 argument rules and error codes; UTF-8 itself is in utf_transcode_posix.cpp.
#include <climits>
#include <cstring>

#include "pal/codepage.h"
#include "pal/error.h"
#include "pal/utf_transcode.h"
#include "pal/wide_crt.h"

namespace {

using utf::Status;

// Bytes 0x80-0x9F of Windows-1252. Windows maps the five bytes the code page
// leaves undefined to the C1 controls of the same value, so every byte converts.
// clang-format off
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
// clang-format on

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
    const Status status = utf::ToUtf16(src, length, capacity == 0 ? nullptr : wideCharStr, capacity,
                                       strict, &produced);
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

    const size_t length =
        cchWideChar < 0 ? wcslen(wideCharStr) + 1 : static_cast<size_t>(cchWideChar);
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
        const Status status = utf::ToUtf8(wideCharStr, length, capacity == 0 ? nullptr : dst,
                                          capacity, strict, &produced);
        return Finish(status, produced);
    }

    // Windows-1252. There is no best-fit mapping and no composition here: every
    // character without an exact form becomes the default character, so the
    // flags that steer those are accepted and change nothing (Windows would
    // turn e + U+0301 into 0xE9 under WC_COMPOSITECHECK; this gives "e?").
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
