// SPDX-License-Identifier: MIT
// Storage, classification, conversion, views and appending of KsString.
// Search, comparison and the smaller operations live in ks_string_ops.cpp.
#include "foundation/ks_string.h"

#include <bit>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "foundation/ks_exception.h"

namespace ks {
namespace {

// Continuation bytes a lead byte announces: the 1 bits after its top bit.
// 0 marks a byte that cannot start a sequence (0x80-0xBF, 0xFE, 0xFF).
struct FollowTable {
    uint8_t follow[256];
    constexpr FollowTable() : follow() {
        for (int b = 0xC0; b < 0xFE; ++b) {
            follow[b] = b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : 5;
        }
    }
};
constexpr FollowTable kFollow;

// Whether the `follow` bytes after the lead in `w` (the lead's little-endian
// word of four) are all continuation bytes.
inline bool continuationsIn(uint32_t w, unsigned follow) {
    static constexpr uint32_t kMask[4] = {0, 0xC000, 0xC0C000, 0xC0C0C000};
    static constexpr uint32_t kWant[4] = {0, 0x8000, 0x808000, 0x80808000};
    return (w & kMask[follow]) == kWant[follow];
}

}  // namespace

NarrowClass classifyNarrow(const char* text, uint64_t n) {
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* end = p + n;
    bool hasHigh = false;
    while (p < end) {
        const uint8_t b = *p;
        if (b < 0x80) {
            if (b == 0) {
                break;
            }
            ++p;
            // Eight plain bytes at a time: none high, none NUL.
            while (end - p >= 8) {
                uint64_t w;
                std::memcpy(&w, p, 8);
                if (((w & 0x8080808080808080ull) |
                     ((w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull)) != 0) {
                    break;
                }
                p += 8;
            }
            continue;
        }
        hasHigh = true;
        const unsigned follow = kFollow.follow[b];
        // A NUL or the end inside a sequence leaves it open: malformed too.
        if (follow == 0 || static_cast<uint64_t>(end - p) <= follow) {
            return {false, true};
        }
        if (follow <= 3 && end - p >= 4) {
            uint32_t w;
            std::memcpy(&w, p, 4);
            if constexpr (std::endian::native != std::endian::little) {
                w = __builtin_bswap32(w);
            }
            if (!continuationsIn(w, follow)) {
                return {false, true};
            }
        } else {
            for (unsigned k = 1; k <= follow; ++k) {
                if ((p[k] & 0xC0) != 0x80) {
                    return {false, true};
                }
            }
        }
        p += follow + 1;
    }
    return {true, hasHigh};
}

}  // namespace ks

namespace {

// Shared empty texts for views of a string without storage.
const char kEmptyNarrow[1] = {0};
const WCHAR kEmptyWide[1] = {0};

uint64_t grownCapacity(uint64_t needed, uint64_t old) {
    return needed > old * 2 ? needed : old * 2;
}

// Converts NUL-terminated narrow text to a new UTF-16 buffer in the two-call
// protocol. Returns the buffer (owned by the caller) and its unit count.
WCHAR* narrowToWide(UINT codePage, const char* text, uint64_t* units) {
    const int size = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (size <= 0) {
        *units = 0;
        WCHAR* empty = new WCHAR[1];
        empty[0] = 0;
        return empty;
    }
    WCHAR* out = new WCHAR[static_cast<size_t>(size)];
    const int written = MultiByteToWideChar(codePage, 0, text, -1, out, size);
    *units = written > 0 ? static_cast<uint64_t>(written - 1) : 0;
    out[*units] = 0;
    return out;
}

char* wideToNarrow(UINT codePage, const WCHAR* text, uint64_t* bytes) {
    const int size = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        *bytes = 0;
        char* empty = new char[1];
        empty[0] = 0;
        return empty;
    }
    char* out = new char[static_cast<size_t>(size)];
    const int written = WideCharToMultiByte(codePage, 0, text, -1, out, size, nullptr, nullptr);
    *bytes = written > 0 ? static_cast<uint64_t>(written - 1) : 0;
    out[*bytes] = 0;
    return out;
}

KsString::Encoding classifyText(const char* text, uint64_t n) {
    const ks::NarrowClass c = ks::classifyNarrow(text, n);
    return c.wellFormed && c.hasHigh ? KsString::Encoding::Utf8 : KsString::Encoding::Ansi;
}

}  // namespace

KsString::KsString(const char* text, int64_t length) {
    assign(text, length);
}

KsString::KsString(const WCHAR* text, int64_t length) {
    assign(text, length);
}

KsString::KsString(const KsString& other) {
    assign(other);
}

KsString::KsString(KsString&& other) noexcept
    : encoding_(other.encoding_),
      count_(other.count_),
      narrow_(other.narrow_),
      narrowCapacity_(other.narrowCapacity_),
      wide_(other.wide_),
      wideCapacity_(other.wideCapacity_) {
    other.narrow_ = nullptr;
    other.wide_ = nullptr;
    other.narrowCapacity_ = other.wideCapacity_ = 0;
    other.count_ = 0;
    other.encoding_ = Encoding::None;
}

KsString& KsString::operator=(const KsString& other) {
    assign(other);
    return *this;
}

KsString& KsString::operator=(KsString&& other) noexcept {
    if (this != &other) {
        release();
        std::swap(encoding_, other.encoding_);
        std::swap(count_, other.count_);
        std::swap(narrow_, other.narrow_);
        std::swap(narrowCapacity_, other.narrowCapacity_);
        std::swap(wide_, other.wide_);
        std::swap(wideCapacity_, other.wideCapacity_);
    }
    return *this;
}

KsString::~KsString() {
    release();
}

void KsString::release() noexcept {
    releaseNarrow();
    releaseWide();
}

void KsString::releaseNarrow() noexcept {
    delete[] narrow_;
    narrow_ = nullptr;
    narrowCapacity_ = 0;
}

void KsString::releaseWide() noexcept {
    delete[] wide_;
    wide_ = nullptr;
    wideCapacity_ = 0;
}

void KsString::assign(const KsString& other) {
    if (this == &other) {
        return;
    }
    // Build the copy first so that a failed allocation leaves this string as it was.
    if (other.encoding_ == Encoding::Utf16 && other.wide_ != nullptr) {
        WCHAR* copy = new WCHAR[other.count_ + 1];
        std::memcpy(copy, other.wide_, other.count_ * sizeof(WCHAR));
        copy[other.count_] = 0;
        release();
        wide_ = copy;
        wideCapacity_ = other.count_ + 1;
    } else if (other.narrow_ != nullptr) {
        char* copy = new char[other.count_ + 1];
        std::memcpy(copy, other.narrow_, other.count_);
        copy[other.count_] = 0;
        release();
        narrow_ = copy;
        narrowCapacity_ = other.count_ + 1;
    } else {
        release();
    }
    encoding_ = other.encoding_;
    count_ = other.count_;
}

KsString KsString::utf8FromNarrow(const char* text, uint64_t n) {
    std::unique_ptr<char[]> copy(new char[n + 1]);
    std::memcpy(copy.get(), text, n);
    return utf8FromNarrow(std::move(copy), n, n + 1);
}

KsString KsString::utf8FromNarrow(std::unique_ptr<char[]> buffer, uint64_t n, uint64_t capacity) {
    KsString result;
    buffer[n] = 0;
    result.narrow_ = buffer.release();
    result.narrowCapacity_ = capacity;
    result.count_ = n;
    if (ks::classifyNarrow(result.narrow_, n).wellFormed) {
        result.encoding_ = Encoding::Utf8;
    } else {
        result.encoding_ = Encoding::Ansi;
        result.utf8View();
    }
    return result;
}

void KsString::assign(const char* text, int64_t length) {
    if (text == nullptr) {
        release();
        encoding_ = Encoding::None;
        count_ = 0;
        return;
    }
    const uint64_t n = length < 0 ? std::strlen(text) : static_cast<uint64_t>(length);
    setNarrow(text, n);
}

void KsString::assign(const WCHAR* text, int64_t length) {
    if (text == nullptr) {
        release();
        encoding_ = Encoding::None;
        count_ = 0;
        return;
    }
    uint64_t n = 0;
    if (length < 0) {
        while (text[n] != 0) {
            ++n;
        }
    } else {
        n = static_cast<uint64_t>(length);
    }
    WCHAR* copy = new WCHAR[n + 1];
    std::memcpy(copy, text, n * sizeof(WCHAR));
    copy[n] = 0;
    release();
    wide_ = copy;
    wideCapacity_ = n + 1;
    count_ = n;
    encoding_ = Encoding::Utf16;
}

void KsString::setNarrow(const char* text, uint64_t n) {
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n);
    copy[n] = 0;
    release();
    narrow_ = copy;
    narrowCapacity_ = n + 1;
    count_ = n;
    encoding_ = classifyText(narrow_, n);
}

void KsString::ensureNarrow(uint64_t units) {
    if (units + 1 <= narrowCapacity_) {
        return;
    }
    const uint64_t capacity = grownCapacity(units + 1, narrowCapacity_);
    char* grown = new char[capacity];
    const uint64_t kept = narrow_ != nullptr ? count_ : 0;
    if (kept != 0) {
        std::memcpy(grown, narrow_, kept);
    }
    grown[kept] = 0;  // nothing reads past the terminator, so the rest stays unwritten
    delete[] narrow_;
    narrow_ = grown;
    narrowCapacity_ = capacity;
}

void KsString::ensureWide(uint64_t units) {
    if (units + 1 <= wideCapacity_) {
        return;
    }
    const uint64_t capacity = grownCapacity(units + 1, wideCapacity_);
    WCHAR* grown = new WCHAR[capacity];
    const uint64_t kept = wide_ != nullptr ? count_ : 0;
    if (kept != 0) {
        std::memcpy(grown, wide_, kept * sizeof(WCHAR));
    }
    grown[kept] = 0;
    delete[] wide_;
    wide_ = grown;
    wideCapacity_ = capacity;
}

void KsString::toUtf16() {
    if (encoding_ == Encoding::Utf16) {
        return;
    }
    if (narrow_ == nullptr) {
        encoding_ = Encoding::Utf16;
        return;
    }
    uint64_t units = 0;
    WCHAR* converted =
        narrowToWide(encoding_ == Encoding::Utf8 ? CP_UTF8 : CP_ACP, narrow_, &units);
    release();
    wide_ = converted;
    wideCapacity_ = units + 1;
    count_ = units;
    encoding_ = Encoding::Utf16;
}

// Ansi <-> Utf8 through a temporary UTF-16 buffer; the result stays narrow.
void KsString::narrowToNarrow(UINT fromCodePage, UINT toCodePage) {
    uint64_t units = 0;
    WCHAR* temp = narrowToWide(fromCodePage, narrow_, &units);
    uint64_t bytes = 0;
    char* converted = nullptr;
    try {
        converted = wideToNarrow(toCodePage, temp, &bytes);
    } catch (...) {
        delete[] temp;
        throw;
    }
    delete[] temp;
    releaseNarrow();
    narrow_ = converted;
    narrowCapacity_ = bytes + 1;
    count_ = bytes;
}

// UTF-16 into narrow storage of the given code page; the wide storage goes.
void KsString::fromUtf16(UINT codePage) {
    uint64_t bytes = 0;
    char* converted = wideToNarrow(codePage, wide_, &bytes);
    release();
    narrow_ = converted;
    narrowCapacity_ = bytes + 1;
    count_ = bytes;
}

const char* KsString::ansiView() {
    if (!hasStorage()) {
        encoding_ = Encoding::Ansi;
        return kEmptyNarrow;
    }
    if (encoding_ == Encoding::Utf8) {
        narrowToNarrow(CP_UTF8, CP_ACP);
    } else if (encoding_ == Encoding::Utf16) {
        fromUtf16(CP_ACP);
    }
    encoding_ = Encoding::Ansi;
    return narrow_;
}

const char* KsString::utf8View() {
    if (!hasStorage()) {
        encoding_ = Encoding::Utf8;
        return kEmptyNarrow;
    }
    if (encoding_ == Encoding::Ansi) {
        // Bytes that already are well-formed UTF-8 (pure ASCII included) only change tag.
        if (!ks::classifyNarrow(narrow_, count_).wellFormed) {
            narrowToNarrow(CP_ACP, CP_UTF8);
        }
    } else if (encoding_ == Encoding::Utf16) {
        fromUtf16(CP_UTF8);
    }
    encoding_ = Encoding::Utf8;
    return narrow_;
}

const WCHAR* KsString::wideView() {
    toUtf16();
    return wide_ != nullptr ? wide_ : kEmptyWide;
}

uint64_t KsString::length() {
    toUtf16();
    return count_;
}

void KsString::append(const KsString& other) {
    if (other.isEmpty()) {
        return;
    }
    if (isEmpty()) {
        assign(other);
        return;
    }
    if (encoding_ == other.encoding_) {
        if (encoding_ == Encoding::Utf16) {
            const uint64_t n = other.count_;
            ensureWide(count_ + n);
            std::memcpy(wide_ + count_, other.wide_, n * sizeof(WCHAR));
            count_ += n;
            wide_[count_] = 0;
        } else {
            const uint64_t n = other.count_;
            ensureNarrow(count_ + n);
            std::memcpy(narrow_ + count_, other.narrow_, n);
            count_ += n;
            narrow_[count_] = 0;
        }
        return;
    }
    if (encoding_ != Encoding::Utf16 && other.encoding_ != Encoding::Utf16) {
        // One Ansi, one Utf8: both as UTF-8 bytes.
        KsString tail(other);
        tail.utf8View();
        utf8View();
        append(tail);
        encoding_ = Encoding::Utf8;
        return;
    }
    KsString tail;
    if (other.encoding_ == Encoding::Utf16) {
        tail.assign(other);
    } else {
        // Narrow bytes up to the first NUL, classified afresh.
        tail.assign(other.narrow_, -1);
        tail.toUtf16();
    }
    toUtf16();
    append(tail);
}

void KsString::appendChar(uint32_t unit) {
    toUtf16();
    ensureWide(count_ + 1);
    wide_[count_++] = static_cast<WCHAR>(unit & 0xFFFF);
    wide_[count_] = 0;
}

void KsString::appendAscii(const char* ascii, uint64_t n) {
    if (n == 0) {
        return;
    }
    if (encoding_ == Encoding::Utf16) {
        ensureWide(count_ + n);
        for (uint64_t i = 0; i < n; ++i) {
            wide_[count_ + i] = static_cast<WCHAR>(static_cast<uint8_t>(ascii[i]));
        }
        count_ += n;
        wide_[count_] = 0;
        return;
    }
    if (isEmpty()) {
        // An empty string becomes a copy of the appended (Ansi) text.
        releaseWide();
        encoding_ = Encoding::Ansi;
        count_ = 0;
    }
    ensureNarrow(count_ + n);
    std::memcpy(narrow_ + count_, ascii, n);
    count_ += n;
    narrow_[count_] = 0;
}

KsString KsString::concat(const KsString& a, const KsString& b) {
    KsString result(a);
    result.append(b);
    return result;
}

void KsString::reserve(uint64_t n) {
    const bool narrowForm =
        narrow_ != nullptr ||
        (!hasStorage() && (encoding_ == Encoding::Ansi || encoding_ == Encoding::Utf8));
    if (narrowForm) {
        ensureNarrow(n);
    } else {
        ensureWide(n);
        encoding_ = Encoding::Utf16;
    }
}

namespace {

// Whether a format holds a %n directive (flags, width, precision and size
// letters may come between). Windows' runtime either writes through the
// argument (msvcrt) or hands %n to the invalid-parameter handler, whose
// default ends the process (the Universal CRT); the POSIX layer refuses it.
// Refused here first, it is the same clear failure everywhere.
bool hasCountDirective(const WCHAR* fmt) {
    for (const WCHAR* p = fmt; *p != 0; ++p) {
        if (*p != '%') {
            continue;
        }
        ++p;
        if (*p == '%') {
            continue;
        }
        while (*p != 0 && std::char_traits<WCHAR>::find(WLIT("-+ #0123456789.*hlLqjztwIN"), 26, *p)) {
            ++p;
        }
        if (*p == 'n') {
            return true;
        }
        if (*p == 0) {
            break;
        }
    }
    return false;
}

}  // namespace

int32_t KsString::formatRaw(uint64_t capacity, const WCHAR* fmt, ...) {
    if (capacity == 0) {
        capacity = 32;
    }
    if (hasCountDirective(fmt)) {
        release();
        count_ = 0;
        encoding_ = Encoding::Utf16;
        return -1;
    }
    for (;;) {
        WCHAR* storage = new WCHAR[capacity];
        storage[0] = 0;
        va_list args;
        va_start(args, fmt);
        errno = 0;
        const int written = _vsnwprintf_s(storage, capacity, _TRUNCATE, fmt, args);
        const int error = errno;
        va_end(args);
        if (written >= 0) {
            release();
            wide_ = storage;
            wideCapacity_ = capacity;
            count_ = static_cast<uint64_t>(written);
            encoding_ = Encoding::Utf16;
            return written;
        }
        delete[] storage;
        // A rejected format would fail at every size: stop instead of growing for ever.
        if (error == EINVAL || capacity > static_cast<uint64_t>(INT32_MAX)) {
            release();
            count_ = 0;
            encoding_ = Encoding::Utf16;
            return -1;
        }
        capacity *= 2;
    }
}
