// SPDX-License-Identifier: MIT
#include "commands/attachment_name.h"

#include <algorithm>
#include <vector>

std::basic_string<WCHAR> attachmentFileName(const WCHAR* path) {
    // Room for any name the path can hold: longer paths than MAX_PATH exist.
    const std::size_t units = std::max<std::size_t>(256, std::char_traits<WCHAR>::length(path) + 1);
    std::vector<WCHAR> name(units), extension(units);
    if (_wsplitpath_s(path, nullptr, 0, nullptr, 0, name.data(), units, extension.data(), units) !=
        0) {
        return {};
    }
    return std::basic_string<WCHAR>(name.data()) + extension.data();
}
