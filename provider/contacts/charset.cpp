// SPDX-License-Identifier: MIT
#include "provider/contacts/charset.h"

#include <cctype>
#include <cerrno>
#include <vector>

namespace mb::provider {
namespace {

const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

bool plainName(std::string_view name) {
    if (name.empty() || name.size() > 40) {
        return false;
    }
    for (char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '_' && c != '.' &&
            c != ':') {
            return false;
        }
    }
    return true;
}

}  // namespace

CharsetDecoder::~CharsetDecoder() {
    for (auto& [name, cd] : open_) {
        if (cd != kNone) {
            iconv_close(cd);
        }
    }
}

std::optional<std::string> CharsetDecoder::toUtf8(std::string_view bytes,
                                                  std::string_view charset) {
    if (!plainName(charset)) {
        return std::nullopt;
    }
    std::string key(charset);
    for (char& c : key) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    auto found = open_.find(key);
    if (found == open_.end()) {
        found = open_.emplace(key, iconv_open("UTF-8", key.c_str())).first;
    }
    const iconv_t cd = found->second;
    if (cd == kNone) {
        return std::nullopt;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a failed value may have left state behind
    // UTF-8 takes at most four bytes for any one input byte of the sets cards use.
    std::vector<char> out(bytes.size() * 4 + 16);
    char* in = const_cast<char*>(bytes.data());  // iconv's signature; it does not write
    std::size_t inLeft = bytes.size();
    char* outAt = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1)) {
            if (errno != E2BIG) {
                return std::nullopt;  // EILSEQ or EINVAL: not text in that set
            }
            const std::size_t used = static_cast<std::size_t>(outAt - out.data());
            out.resize(out.size() * 2);
            outAt = out.data() + used;
            outLeft = out.size() - used;
        }
    }
    if (iconv(cd, nullptr, nullptr, &outAt, &outLeft) == static_cast<std::size_t>(-1)) {
        return std::nullopt;
    }
    return std::string(out.data(), static_cast<std::size_t>(outAt - out.data()));
}

}  // namespace mb::provider
