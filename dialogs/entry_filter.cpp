// SPDX-License-Identifier: MIT
#include "dialogs/entry_filter.h"

#include <glib.h>

namespace mb::dialogs {

std::string foldForSearch(std::string_view text) {
    if (text.empty()) {
        return {};  // and GLib must not see an empty view's null pointer
    }
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    gchar* decomposed = g_utf8_normalize(valid, -1, G_NORMALIZE_ALL);
    g_free(valid);
    if (decomposed == nullptr) {
        return {};
    }
    gchar* folded = g_utf8_casefold(decomposed, -1);
    g_free(decomposed);
    // Folding can compose again (and some folds yield marks), so marks are
    // dropped after it, not before.
    std::string out;
    for (const gchar* p = folded; *p != '\0'; p = g_utf8_next_char(p)) {
        gunichar c = g_utf8_get_char(p);
        GUnicodeType type = g_unichar_type(c);
        if (type == G_UNICODE_NON_SPACING_MARK || type == G_UNICODE_ENCLOSING_MARK ||
            type == G_UNICODE_SPACING_MARK) {
            continue;
        }
        out.append(p, static_cast<std::size_t>(g_utf8_next_char(p) - p));
    }
    g_free(folded);
    return out;
}

std::string searchKey(const Entry& entry) {
    // A line break never occurs in a folded query word, so no word can match
    // across the end of the name and the start of the address.
    return foldForSearch(entry.name) + "\n" + foldForSearch(entry.address);
}

EntryFilter::EntryFilter(std::string_view query) {
    std::string folded = foldForSearch(query);
    std::size_t i = 0;
    while (i < folded.size()) {
        while (i < folded.size() && g_ascii_isspace(folded[i])) {
            ++i;
        }
        std::size_t start = i;
        while (i < folded.size() && !g_ascii_isspace(folded[i])) {
            ++i;
        }
        if (i > start) {
            words_.push_back(folded.substr(start, i - start));
        }
    }
}

bool EntryFilter::matchesKey(std::string_view key) const {
    for (const std::string& word : words_) {
        if (key.find(word) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace mb::dialogs
