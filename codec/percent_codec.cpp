#include "codec/percent_codec.h"

#include <cstring>
#include <string>

#include "foundation/ks_exception.h"

namespace {

constexpr bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '!' || c == '\'' || c == '(' || c == ')' || c == '*' || c == ',' || c == '-' ||
           c == '.' || c == '/' || c == ':' || c == '_' || c == '~';
}

struct Tables {
    bool unreserved[256];
    int8_t hexValue[256];  // -1 for a byte that is not a hex digit
    constexpr Tables() : unreserved(), hexValue() {
        for (int c = 0; c < 256; ++c) {
            unreserved[c] = isUnreserved(static_cast<unsigned char>(c));
            hexValue[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
                          : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                          : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                                                 : static_cast<int8_t>(-1);
        }
    }
};
constexpr Tables kTables;

[[noreturn]] void throwBadEscape(const char* group, uint64_t n) {
    throw KsException(KsString::concat(KsString("bad escape sequence: "),
                                       KsString(group, static_cast<int64_t>(n))));
}

// The escape group at `p` (at most three bytes, fewer where the text ends),
// validated as the platform's scanf reads "%%%2x": a group whose second byte
// is a blank or a sign goes through the scanner itself, so that every group
// means exactly what it means there.
uint8_t decodeGroup(const char* p, uint64_t n) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (n == 3 && kTables.hexValue[u[2]] >= 0) {
        if (kTables.hexValue[u[1]] >= 0) {
            return static_cast<uint8_t>(kTables.hexValue[u[1]] * 16 + kTables.hexValue[u[2]]);
        }
        // One unit per byte, as the scanner sees the group.
        const WCHAR group[4] = {u[0], u[1], u[2], 0};
        unsigned int value = 0;
        if (swscanf_s(group, WLIT("%%%2x"), &value) == 1 && value <= 255) {
            return static_cast<uint8_t>(value);
        }
    }
    throwBadEscape(p, n);
}

}  // namespace

namespace codec {

void appendPercentEncodedBytes(KsString& target, const char* bytes, uint64_t n) {
    static const char kHex[] = "0123456789abcdef";
    if (n == 0) {
        return;
    }
    if (target.encoding() == KsString::Encoding::None) {
        target.assign("");  // what appending ASCII to an empty string gives anyway
    }
    target.reserve(target.unitCount() + n + n / 2);
    // Escape into a stack buffer and hand it over in blocks.
    char block[4096];
    uint64_t used = 0;
    for (uint64_t i = 0; i < n; ++i) {
        if (used > sizeof(block) - 3) {
            target.appendAscii(block, used);
            used = 0;
        }
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (kTables.unreserved[c]) {
            block[used++] = static_cast<char>(c);
        } else {
            block[used] = '%';
            block[used + 1] = kHex[c >> 4];
            block[used + 2] = kHex[c & 0xF];
            used += 3;
        }
    }
    target.appendAscii(block, used);
}

void appendPercentDecodedBytes(KsString& target, const char* text, uint64_t textLength,
                               uint64_t start, uint64_t end) {
    if (end > textLength) {
        end = textLength;
    }
    if (start >= end) {
        return;
    }
    std::string decoded;
    decoded.resize(end - start);
    char* out = decoded.data();
    uint64_t kept = UINT64_MAX;  // bytes before the first decoded NUL, once there is one
    uint64_t i = start;
    while (i < end) {
        const void* hit = std::memchr(text + i, '%', end - i);
        const uint64_t run = hit ? static_cast<uint64_t>(static_cast<const char*>(hit) - text) - i
                                 : end - i;
        std::memcpy(out, text + i, run);
        out += run;
        i += run;
        if (i >= end) {
            break;
        }
        const uint64_t groupLength = textLength - i < 3 ? textLength - i : 3;
        const uint8_t byte = decodeGroup(text + i, groupLength);
        if (byte == 0 && kept == UINT64_MAX) {
            kept = static_cast<uint64_t>(out - decoded.data());
        }
        *out++ = static_cast<char>(byte);
        i += 3;
    }
    uint64_t size = static_cast<uint64_t>(out - decoded.data());
    // Plain bytes copied above cannot be NUL: the text ends at its first NUL.
    if (kept < size) {
        size = kept;
    }
    KsString part(decoded.data(), static_cast<int64_t>(size));
    part.utf8View();
    if (target.isEmpty()) {
        target = std::move(part);
    } else {
        target.append(part);
    }
}

}  // namespace codec

void appendPercentEncoded(KsString& target, const KsString& text) {
    KsString copy(text);
    const char* bytes = copy.utf8View();
    codec::appendPercentEncodedBytes(target, bytes, std::strlen(bytes));
}

void appendPercentDecoded(KsString& target, const KsString& text, uint64_t start, uint64_t end) {
    KsString copy(text);
    const char* bytes = copy.utf8View();
    codec::appendPercentDecodedBytes(target, bytes, std::strlen(bytes), start, end);
}

uint8_t decodeEscape(const KsString& group) {
    KsString copy(group);
    const char* bytes = copy.utf8View();
    return decodeGroup(bytes, std::strlen(bytes));
}
