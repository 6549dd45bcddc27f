// SPDX-License-Identifier: MIT
#include "provider/mime/media_type.h"

#include <gio/gio.h>

#include <string_view>

namespace mb::mime {
namespace {

constexpr const char* kUnknown = "application/octet-stream";

// RFC 2045's token, twice, around one '/': anything else (GIO's own names
// such as "application/x-zerosize" pass, but not an empty or odd string) is
// no media type a reader knows.
bool wellFormed(std::string_view type) {
    const std::size_t slash = type.find('/');
    if (slash == 0 || slash == std::string_view::npos || slash + 1 == type.size()) {
        return false;
    }
    for (std::size_t i = 0; i < type.size(); ++i) {
        const auto c = static_cast<unsigned char>(type[i]);
        if (i == slash) {
            continue;
        }
        if (c <= 0x20 || c >= 0x7F || std::string_view("()<>@,;:\\\"/[]?=").find(c) !=
                                          std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// Control bytes that text does not hold: GIO's sniffing takes binary data
// that happens to begin with '%' for a text type.
bool looksBinary(const unsigned char* head, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = head[i];
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1B) {
            return true;
        }
    }
    return false;
}

// The type the name alone gives, lowercase; empty for none.
std::string typeOfName(const std::string& fileName) {
    if (fileName.empty()) {
        return {};
    }
    gboolean uncertain = FALSE;
    gchar* guessed = g_content_type_guess(fileName.c_str(), nullptr, 0, &uncertain);
    std::string type = guessed != nullptr && !uncertain ? guessed : "";
    g_free(guessed);
    return type;
}

}  // namespace

std::string mediaTypeOf(const std::string& fileName, const unsigned char* head, std::size_t size) {
    gboolean uncertain = FALSE;
    gchar* guessed = g_content_type_guess(fileName.empty() ? nullptr : fileName.c_str(),
                                          size == 0 ? nullptr : head, size, &uncertain);
    if (guessed == nullptr) {
        return kUnknown;
    }
    gchar* mime = g_content_type_get_mime_type(guessed);
    g_free(guessed);
    if (mime == nullptr) {
        return kUnknown;
    }
    std::string type(mime);
    g_free(mime);
    // An empty file says nothing of what it is; its name may.
    if (!wellFormed(type) || type == "application/x-zerosize") {
        return kUnknown;
    }
    for (char& c : type) {
        c = g_ascii_tolower(c);
    }
    if (type.rfind("text/", 0) == 0 && looksBinary(head, size) &&
        typeOfName(fileName).rfind("text/", 0) != 0) {
        return kUnknown;
    }
    return type;
}

}  // namespace mb::mime
