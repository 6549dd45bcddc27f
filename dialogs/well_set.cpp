// SPDX-License-Identifier: MIT
#include "dialogs/well_set.h"

#include <algorithm>
#include <glib.h>

namespace mb::dialogs {

bool sameRecipient(const Entry& a, const Entry& b) {
    if (!a.id.empty() || !b.id.empty()) {
        return g_ascii_strcasecmp(a.id.c_str(), b.id.c_str()) == 0;
    }
    if (!a.address.empty() || !b.address.empty()) {
        return g_ascii_strcasecmp(a.address.c_str(), b.address.c_str()) == 0;
    }
    return a.name == b.name;
}

bool WellSet::add(std::size_t well, const Entry& entry) {
    if (well >= wells_.size()) {
        return false;
    }
    std::vector<Entry>& entries = wells_[well].entries;
    bool present = std::any_of(entries.begin(), entries.end(),
                               [&](const Entry& e) { return sameRecipient(e, entry); });
    if (present) {
        return false;
    }
    entries.push_back(entry);
    return true;
}

bool WellSet::remove(std::size_t well, std::size_t index) {
    if (well >= wells_.size() || index >= wells_[well].entries.size()) {
        return false;
    }
    auto& entries = wells_[well].entries;
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

}  // namespace mb::dialogs
