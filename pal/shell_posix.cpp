// SPDX-License-Identifier: MIT
// The display name a file manager shows for a path.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include "pal/file_internal.h"
#include "pal/utf_transcode.h"

namespace {

// The last component of a POSIX path ('/' is the only separator; a '\' is part
// of a name). "." and ".." name the folder they lead to; "/" is shown as "/".
std::string lastComponent(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) {
        return "/";
    }
    size_t begin = path.find_last_of('/', end);
    begin = begin == std::string::npos ? 0 : begin + 1;
    std::string name = path.substr(begin, end + 1 - begin);
    if (name != "." && name != "..") {
        return name;
    }
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                    &std::free);
    return real ? lastComponent(real.get()) : name;
}

}  // namespace

DWORD_PTR SHGetFileInfoW(LPCWSTR path, DWORD /*fileAttributes*/, SHFILEINFOW* info,
                         UINT /*cbFileInfo*/, UINT flags) {
    if (path == nullptr || info == nullptr || flags != SHGFI_DISPLAYNAME) {
        return 0;
    }
    try {
        std::string utf8;
        struct stat st {};
        if (!palPathToUtf8(path, utf8) || utf8.empty() || ::stat(utf8.c_str(), &st) != 0) {
            return 0;
        }
        std::string name = lastComponent(utf8);
        // A name the file system holds in another encoding shows with U+FFFD for
        // its ill-formed bytes, as file managers show it; one longer than the
        // field is cut.
        const auto* in = reinterpret_cast<const uint8_t*>(name.data());
        size_t units = 0;
        utf::ToUtf16(in, name.size(), nullptr, 0, false, &units);
        std::u16string wide(units, u'\0');
        utf::ToUtf16(in, name.size(), wide.data(), units, false, &units);
        size_t kept = std::min<size_t>(wide.size(), MAX_PATH - 1);
        std::copy_n(wide.begin(), kept, info->szDisplayName);
        info->szDisplayName[kept] = 0;
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}
