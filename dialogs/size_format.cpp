// SPDX-License-Identifier: MIT
#include "dialogs/size_format.h"

#include <sys/stat.h>

#include <cstdio>

#include "dialogs/compose_i18n.h"

namespace mb::dialogs {

std::string formatSize(std::uint64_t bytes) {
    if (bytes < 1000) {
        char text[64];
        std::snprintf(text, sizeof text,
                      ngettext("%llu byte", "%llu bytes", static_cast<unsigned long>(bytes)),
                      static_cast<unsigned long long>(bytes));
        return text;
    }
    static const char* const kUnits[] = {N_("%.1f kB"), N_("%.1f MB"), N_("%.1f GB"),
                                         N_("%.1f TB"), N_("%.1f PB"), N_("%.1f EB")};
    // Integer steps first, so that rounding to one decimal never shows
    // "1000.0 kB": a value that would round up to 1000 moves to the next unit.
    std::size_t unit = 0;
    double value = static_cast<double>(bytes) / 1000.0;
    while (value >= 999.95 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        value /= 1000.0;
        ++unit;
    }
    char text[64];
    std::snprintf(text, sizeof text, _(kUnits[unit]), value);
    return text;
}

std::uint64_t currentFileSize(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace mb::dialogs
