// SPDX-License-Identifier: MIT
// KsString: the Broker's one text type.
//
// The text is held in one of three forms at a time: bytes of the ANSI code page,
// UTF-8 bytes, or UTF-16 units. The encoding tag says which; the views convert
// in place on demand, so a string is not safe for concurrent use, not even for
// reading. Narrow text is classified when it is set: well-formed UTF-8 holding
// a byte >= 0x80 is Utf8, anything else (pure ASCII included) is Ansi.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "pal/win32.h"

class KsString {
  public:
    enum class Encoding : int32_t { None = 0, Ansi = 1, Utf8 = 2, Utf16 = 3 };

    // Positions are unsigned 64-bit; this value means "not found" or "to the end".
    static constexpr uint64_t npos = UINT64_MAX;

    KsString() noexcept = default;
    // Narrow text; length -1 means up to the first NUL. A null text gives None.
    KsString(const char* text, int64_t length = -1);  // NOLINT: implicit on purpose
    // UTF-16 text; length -1 means up to the first NUL. A null text gives None.
    KsString(const WCHAR* text, int64_t length = -1);  // NOLINT
    KsString(const KsString& other);
    KsString(KsString&& other) noexcept;
    KsString& operator=(const KsString& other);
    KsString& operator=(KsString&& other) noexcept;
    ~KsString();

    // KsString(text, n) followed by utf8View(), with one classification pass:
    // well-formed bytes are kept as UTF-8, others are taken as ANSI and converted.
    static KsString utf8FromNarrow(const char* text, uint64_t n);
    // The same for bytes in a buffer from new char[capacity], capacity > n,
    // which the string takes over instead of copying.
    static KsString utf8FromNarrow(std::unique_ptr<char[]> buffer, uint64_t n, uint64_t capacity);

    void assign(const KsString& other);
    void assign(const char* text, int64_t length = -1);
    void assign(const WCHAR* text, int64_t length = -1);

    // Views: make the form current and return the string's own NUL-terminated
    // storage. Valid until the next operation that converts or changes the string.
    const char* ansiView();
    const char* utf8View();
    const WCHAR* wideView();

    Encoding encoding() const { return encoding_; }
    // The count of the current form, without converting: bytes or UTF-16 units.
    uint64_t unitCount() const { return count_; }
    bool isEmpty() const { return count_ == 0; }
    // Converts to UTF-16 and returns the number of units.
    uint64_t length();

    void append(const KsString& other);
    void appendChar(uint32_t unit);
    // Appends ASCII bytes (all below 0x80) as text of any form would: a fast path
    // for encoders that produce ASCII, equal to append(KsString(ascii, n)).
    void appendAscii(const char* ascii, uint64_t n);
    static KsString concat(const KsString& a, const KsString& b);

    // Byte-wise order of `count` units from `pos` (0: the whole rest, terminator
    // included). Negative, zero or positive. Neither string changes.
    int16_t compare(const KsString& other, uint64_t pos, uint64_t count) const;
    bool equals(const KsString& other) const { return compare(other, 0, 0) == 0; }

    uint64_t findChar(uint32_t unit, uint64_t from);
    uint64_t find(const KsString& other, uint64_t from);
    uint64_t findFirstOf(const KsString& set, uint64_t from);
    uint64_t rfind(const KsString& other, uint64_t from);
    uint64_t rfindChar(uint32_t unit, uint64_t from);
    KsString substring(uint64_t pos, uint64_t count) const;
    WCHAR charAt(uint64_t index);
    bool endsWith(const KsString& suffix);
    bool endsWithChar(uint32_t unit);

    uint64_t replaceChar(uint32_t from, uint32_t to);
    void setCharAt(uint64_t index, uint32_t unit);
    void truncate(uint64_t pos);
    KsString toLower() const;
    void trim();
    KsString xmlEscape() const;
    void appendHex(const uint8_t* bytes, uint64_t n);
    void appendByte(uint8_t byte);
    uint8_t ansiByteAt(uint64_t index);
    uint8_t utf8ByteAt(uint64_t index);
    const void* rawData() const;
    uint64_t byteSize() const;

    // Replaces the content by the platform's wide printf output (UTF-16).
    // Returns the number of units, or -1 when the platform rejects the format
    // (the string is then empty).
    template <typename... Args>
    int32_t format(const KsString& fmt, Args... args) {
        return formatWithCapacity(0, fmt, args...);
    }
    template <typename... Args>
    int32_t formatWithCapacity(uint64_t capacity, const KsString& fmt, Args... args) {
        static_assert(((std::is_arithmetic_v<Args> || std::is_pointer_v<Args>)&&...),
                      "format takes numbers and pointers only");
        KsString f(fmt);
        return formatRaw(capacity, f.wideView(), args...);
    }

    // The platform's wide scanf over the text: the number of fields converted.
    template <typename... Args>
    int32_t scan(const KsString& fmt, Args... out) {
        KsString f(fmt);
        const WCHAR* text = wideView();
        return swscanf_s(text, f.wideView(), out...);
    }

    void reserve(uint64_t n);

  private:
    int32_t formatRaw(uint64_t capacity, const WCHAR* fmt, ...);

    void release() noexcept;
    void releaseNarrow() noexcept;
    void releaseWide() noexcept;
    void setNarrow(const char* text, uint64_t n);
    void ensureNarrow(uint64_t units);
    void ensureWide(uint64_t units);
    void toUtf16();
    void fromUtf16(UINT codePage);
    void narrowToNarrow(UINT fromCodePage, UINT toCodePage);
    bool hasStorage() const { return narrow_ != nullptr || wide_ != nullptr; }

    Encoding encoding_ = Encoding::None;
    uint64_t count_ = 0;
    char* narrow_ = nullptr;
    uint64_t narrowCapacity_ = 0;  // bytes, terminator included
    WCHAR* wide_ = nullptr;
    uint64_t wideCapacity_ = 0;  // units, terminator included

    friend class KsStringTestPeer;
};

// The order every container keyed by KsString uses.
struct KsStringLess {
    bool operator()(const KsString& a, const KsString& b) const { return a.compare(b, 0, 0) < 0; }
};

namespace ks {

// Narrow classification: whether bytes up to the first NUL (at most n) are
// well-formed by the lead/continuation rules, and whether any is >= 0x80.
struct NarrowClass {
    bool wellFormed;
    bool hasHigh;
};
NarrowClass classifyNarrow(const char* text, uint64_t n);

}  // namespace ks
