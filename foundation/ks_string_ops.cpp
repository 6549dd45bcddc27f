// SPDX-License-Identifier: MIT
// Comparison, search, extraction and the smaller editing operations of KsString.
#include <cstring>
#include <string>
#include <string_view>

#include "foundation/ks_exception.h"
#include "foundation/ks_string.h"

namespace {

template <typename Unit>
uint64_t textLength(const Unit* text, uint64_t count) {
    uint64_t n = 0;
    while (n < count && text[n] != 0) {
        ++n;
    }
    return n;
}

template <typename Unit>
uint64_t searchForward(const Unit* hay, uint64_t hayLen, const Unit* needle, uint64_t needleLen,
                       uint64_t from) {
    if (needleLen == 0) {
        return from <= hayLen ? from : KsString::npos;
    }
    if (from >= hayLen || needleLen > hayLen - from) {
        return KsString::npos;
    }
    if constexpr (sizeof(Unit) == 1) {
        // memmem is a glibc extension; the C runtime of Windows has none.
#if defined(__GLIBC__)
        const void* hit = memmem(hay + from, hayLen - from, needle, needleLen);
        return hit == nullptr ? KsString::npos
                              : static_cast<uint64_t>(static_cast<const Unit*>(hit) - hay);
#else
        const std::string_view text(reinterpret_cast<const char*>(hay), hayLen);
        const size_t hit = text.find(
            std::string_view(reinterpret_cast<const char*>(needle), needleLen), from);
        return hit == std::string_view::npos ? KsString::npos : static_cast<uint64_t>(hit);
#endif
    } else {
        const uint64_t last = hayLen - needleLen;
        for (uint64_t i = from; i <= last; ++i) {
            if (hay[i] == needle[0] &&
                std::memcmp(hay + i, needle, needleLen * sizeof(Unit)) == 0) {
                return i;
            }
        }
        return KsString::npos;
    }
}

template <typename Unit>
uint64_t searchBackward(const Unit* hay, uint64_t hayLen, const Unit* needle, uint64_t needleLen,
                        uint64_t from) {
    if (needleLen > hayLen) {
        return KsString::npos;
    }
    uint64_t i = hayLen - needleLen;
    if (from < i) {
        i = from;
    }
    for (;;) {
        if (std::memcmp(hay + i, needle, needleLen * sizeof(Unit)) == 0) {
            return i;
        }
        if (i == 0) {
            return KsString::npos;
        }
        --i;
    }
}

template <typename Unit>
uint64_t searchAnyOf(const Unit* hay, uint64_t hayLen, const Unit* set, uint64_t setLen,
                     uint64_t from) {
    for (uint64_t i = from; i < hayLen; ++i) {
        for (uint64_t k = 0; k < setLen; ++k) {
            if (hay[i] == set[k]) {
                return i;
            }
        }
    }
    return KsString::npos;
}

// The order of two UTF-16 units as their little-endian bytes compare.
int unitOrder(WCHAR a, WCHAR b) {
    if ((a & 0xFF) != (b & 0xFF)) {
        return (a & 0xFF) < (b & 0xFF) ? -1 : 1;
    }
    return (a >> 8) < (b >> 8) ? -1 : 1;
}

bool isTrimmed(uint32_t unit) {
    return unit == '\t' || unit == '\n' || unit == '\r' || unit == ' ';
}

}  // namespace

int16_t KsString::compare(const KsString& other, uint64_t pos, uint64_t count) const {
    if (count_ == 0 && other.count_ == 0) {
        return 0;
    }
    if (count_ == 0) {
        return -1;
    }
    if (other.count_ == 0) {
        return 1;
    }
    if (pos == count_) {
        return -1;
    }
    if (pos > count_) {
        throw KsException("Invalid start position");
    }
    const KsString* rhs = &other;
    KsString converted;
    if (encoding_ != other.encoding_) {
        converted.assign(other);
        if (encoding_ == Encoding::Utf16) {
            converted.toUtf16();
        } else if (encoding_ == Encoding::Ansi) {
            converted.ansiView();
        } else if (converted.encoding_ == Encoding::Ansi) {
            // Always through UTF-16: no well-formed shortcut here.
            converted.narrowToNarrow(CP_ACP, CP_UTF8);
            converted.encoding_ = Encoding::Utf8;
        } else {
            converted.utf8View();
        }
        rhs = &converted;
    }
    uint64_t n = count_ - pos + 1;  // the terminator takes part
    if (count != 0 && count < n) {
        n = count;
    }
    // Past the other text's terminator its storage reads as zeros.
    const uint64_t available = rhs->count_ + 1;
    const uint64_t m = n < available ? n : available;
    if (encoding_ == Encoding::Utf16) {
        const WCHAR* a = wide_ + pos;
        const WCHAR* b = rhs->wide_ != nullptr ? rhs->wide_ : WLIT("");
        for (uint64_t i = 0; i < m; ++i) {
            if (a[i] != b[i]) {
                return static_cast<int16_t>(unitOrder(a[i], b[i]));
            }
        }
        for (uint64_t i = m; i < n; ++i) {
            if (a[i] != 0) {
                return 1;
            }
        }
        return 0;
    }
    const char* a = narrow_ + pos;
    const char* b = rhs->narrow_ != nullptr ? rhs->narrow_ : "";
    const int r = std::memcmp(a, b, m);
    if (r != 0) {
        return static_cast<int16_t>(r < 0 ? -1 : 1);
    }
    for (uint64_t i = m; i < n; ++i) {
        if (a[i] != 0) {
            return 1;
        }
    }
    return 0;
}

uint64_t KsString::findChar(uint32_t unit, uint64_t from) {
    if (count_ == 0) {
        return npos;
    }
    toUtf16();
    const uint64_t len = textLength(wide_, count_);
    const WCHAR wanted = static_cast<WCHAR>(unit & 0xFFFF);
    for (uint64_t i = from; i < len; ++i) {
        if (wide_[i] == wanted) {
            return i;
        }
    }
    return npos;
}

// Runs `op` on this text and `other`'s, both in one form: the current form when
// the encodings agree (after the bound test, where asked), else UTF-16, this
// string converted in place and `other` through a copy.
template <typename Op>
static uint64_t withCommonForm(KsString& self, const KsString& other, uint64_t from, bool boundTest,
                               Op op) {
    if (self.encoding() == other.encoding()) {
        if (boundTest && from >= self.unitCount()) {
            return KsString::npos;
        }
        if (self.encoding() == KsString::Encoding::None) {
            return KsString::npos;
        }
        if (self.encoding() == KsString::Encoding::Utf16) {
            const auto* needle = static_cast<const WCHAR*>(other.rawData());
            return op(static_cast<const WCHAR*>(self.rawData()), needle ? needle : WLIT(""), from,
                      true);
        }
        const auto* needle = static_cast<const char*>(other.rawData());
        return op(static_cast<const char*>(self.rawData()), needle ? needle : "", from, true);
    }
    KsString copy(other);
    const WCHAR* needle = copy.wideView();
    return op(self.wideView(), needle, from, false);
}

uint64_t KsString::find(const KsString& other, uint64_t from) {
    return withCommonForm(*this, other, from, true,
                          [&](const auto* hay, const auto* needle, uint64_t start, bool sameForm) {
                              const uint64_t needleLen = textLength(needle, UINT64_MAX);
                              if (needleLen == 0 && sameForm) {
                                  return start;
                              }
                              return searchForward(hay, textLength(hay, count_), needle, needleLen,
                                                   start);
                          });
}

uint64_t KsString::findFirstOf(const KsString& set, uint64_t from) {
    return withCommonForm(*this, set, from, true,
                          [&](const auto* hay, const auto* units, uint64_t start, bool) {
                              return searchAnyOf(hay, textLength(hay, count_), units,
                                                 textLength(units, UINT64_MAX), start);
                          });
}

uint64_t KsString::rfind(const KsString& other, uint64_t from) {
    return withCommonForm(*this, other, from, false,
                          [&](const auto* hay, const auto* needle, uint64_t start, bool) {
                              return searchBackward(hay, textLength(hay, count_), needle,
                                                    textLength(needle, UINT64_MAX), start);
                          });
}

uint64_t KsString::rfindChar(uint32_t unit, uint64_t from) {
    if (count_ == 0) {
        return npos;
    }
    toUtf16();
    const uint64_t len = textLength(wide_, count_);
    if (len == 0) {
        return npos;
    }
    const WCHAR wanted = static_cast<WCHAR>(unit & 0xFFFF);
    for (uint64_t i = from < len - 1 ? from : len - 1;; --i) {
        if (wide_[i] == wanted) {
            return i;
        }
        if (i == 0) {
            return npos;
        }
    }
}

KsString KsString::substring(uint64_t pos, uint64_t count) const {
    KsString result;
    result.encoding_ = encoding_;
    if (pos >= count_) {
        return result;
    }
    const uint64_t rest = count_ - pos;
    const uint64_t n = count > rest ? rest : count;
    if (encoding_ == Encoding::Utf16) {
        result.assign(wide_ + pos, static_cast<int64_t>(n));
    } else {
        result.ensureNarrow(n);
        std::memcpy(result.narrow_, narrow_ + pos, n);
        result.count_ = n;
        result.narrow_[n] = 0;
    }
    result.encoding_ = encoding_;
    return result;
}

WCHAR KsString::charAt(uint64_t index) {
    toUtf16();
    if (index >= count_) {
        throw KsException("index out of bounds");
    }
    return wide_[index];
}

bool KsString::endsWith(const KsString& suffix) {
    if (suffix.isEmpty()) {
        return false;
    }
    KsString tail(suffix);
    tail.toUtf16();
    toUtf16();
    if (tail.count_ == 0 || tail.count_ > count_) {
        return false;
    }
    return std::memcmp(wide_ + (count_ - tail.count_), tail.wide_, tail.count_ * sizeof(WCHAR)) ==
           0;
}

bool KsString::endsWithChar(uint32_t unit) {
    if (count_ == 0) {
        return false;
    }
    toUtf16();
    return count_ != 0 && wide_[count_ - 1] == static_cast<WCHAR>(unit & 0xFFFF);
}

uint64_t KsString::replaceChar(uint32_t from, uint32_t to) {
    toUtf16();
    uint64_t replaced = 0;
    for (uint64_t i = 0; i < count_; ++i) {
        if (wide_[i] == static_cast<WCHAR>(from & 0xFFFF)) {
            wide_[i] = static_cast<WCHAR>(to & 0xFFFF);
            ++replaced;
        }
    }
    return replaced;
}

void KsString::setCharAt(uint64_t index, uint32_t unit) {
    toUtf16();
    if (index >= count_) {
        throw KsException("index out of bounds");
    }
    wide_[index] = static_cast<WCHAR>(unit & 0xFFFF);
}

void KsString::truncate(uint64_t pos) {
    if (pos >= count_) {
        return;
    }
    if (narrow_ != nullptr) {
        std::memset(narrow_ + pos, 0, count_ - pos);
    } else if (wide_ != nullptr) {
        std::memset(wide_ + pos, 0, (count_ - pos) * sizeof(WCHAR));
    }
    count_ = pos;
}

KsString KsString::toLower() const {
    KsString lowered(*this);
    if (lowered.isEmpty()) {
        return lowered;
    }
    lowered.toUtf16();
    if (lowered.wide_ == nullptr || _wcslwr_s(lowered.wide_, lowered.count_ + 1) != 0) {
        return KsString(*this);
    }
    return lowered;
}

void KsString::trim() {
    auto trimUnits = [this](auto* text) {
        uint64_t begin = 0;
        uint64_t end = count_;
        while (begin < end && isTrimmed(static_cast<uint32_t>(text[begin]))) {
            ++begin;
        }
        while (end > begin && isTrimmed(static_cast<uint32_t>(text[end - 1]))) {
            --end;
        }
        const uint64_t kept = end - begin;
        std::memmove(text, text + begin, kept * sizeof(*text));
        std::memset(static_cast<void*>(text + kept), 0, (count_ - kept) * sizeof(*text));
        count_ = kept;
    };
    if (narrow_ != nullptr) {
        trimUnits(narrow_);
    } else if (wide_ != nullptr) {
        trimUnits(wide_);
    }
}

KsString KsString::xmlEscape() const {
    auto escape = [this](const auto* text, auto& out) {
        for (uint64_t i = 0; i < count_; ++i) {
            const uint32_t u =
                static_cast<uint32_t>(text[i]) & (sizeof(*text) == 1 ? 0xFF : 0xFFFF);
            const char* entity = u == '"'   ? "&quot;"
                                 : u == '&' ? "&amp;"
                                 : u == '<' ? "&lt;"
                                 : u == '>' ? "&gt;"
                                            : nullptr;
            if (entity != nullptr) {
                for (const char* e = entity; *e != 0; ++e) {
                    out.push_back(
                        static_cast<typename std::remove_reference_t<decltype(out)>::value_type>(
                            *e));
                }
            } else if (u >= 0x20 || u == '\t' || u == '\n' || u == '\r') {
                out.push_back(text[i]);
            }
        }
    };
    KsString result;
    if (wide_ != nullptr) {
        std::basic_string<WCHAR> out;
        escape(wide_, out);
        result.assign(out.data(), static_cast<int64_t>(out.size()));
    } else if (narrow_ != nullptr) {
        std::string out;
        escape(narrow_, out);
        result.assign(out.data(), static_cast<int64_t>(out.size()));
    }
    // Escaping neither converts nor reinterprets: the form stays as it was.
    result.encoding_ = encoding_;
    return result;
}

void KsString::appendHex(const uint8_t* bytes, uint64_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(n * 2);
    for (uint64_t i = 0; i < n; ++i) {
        hex.push_back(kDigits[bytes[i] >> 4]);
        hex.push_back(kDigits[bytes[i] & 0xF]);
    }
    appendAscii(hex.data(), hex.size());
}

void KsString::appendByte(uint8_t byte) {
    if (encoding_ == Encoding::Utf16) {
        throw KsException("Invalid encoding");
    }
    ensureNarrow(count_ + 1);
    narrow_[count_++] = static_cast<char>(byte);
    narrow_[count_] = 0;
    releaseWide();
    const ks::NarrowClass c = ks::classifyNarrow(narrow_, count_);
    encoding_ = c.wellFormed && c.hasHigh ? Encoding::Utf8 : Encoding::Ansi;
}

uint8_t KsString::ansiByteAt(uint64_t index) {
    const char* text = ansiView();
    if (index >= count_) {
        throw KsException("index out of bounds");
    }
    return static_cast<uint8_t>(text[index]);
}

uint8_t KsString::utf8ByteAt(uint64_t index) {
    const char* text = utf8View();
    if (index >= count_) {
        throw KsException("index out of bounds");
    }
    return static_cast<uint8_t>(text[index]);
}

const void* KsString::rawData() const {
    if (narrow_ != nullptr) {
        return narrow_;
    }
    return wide_;
}

uint64_t KsString::byteSize() const {
    if (narrow_ != nullptr) {
        return count_;
    }
    return wide_ != nullptr ? count_ * sizeof(WCHAR) : 0;
}
