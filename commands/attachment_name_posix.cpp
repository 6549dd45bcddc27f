// SPDX-License-Identifier: MIT
#include "commands/attachment_name.h"

// Not _wsplitpath_s: pal/ keeps its Windows meaning, where a '\' in a POSIX
// file name such as "back\slash.txt" would cut the name short.
std::basic_string<WCHAR> attachmentFileName(const WCHAR* path) {
    const std::basic_string<WCHAR> whole(path);
    const std::size_t slash = whole.rfind(static_cast<WCHAR>('/'));
    return slash == std::basic_string<WCHAR>::npos ? whole : whole.substr(slash + 1);
}
