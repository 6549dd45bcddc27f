// SPDX-License-Identifier: MIT
#include "host/pipe_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::optional<std::string> unsafe(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        return std::nullopt;  // missing: whoever makes it makes it private
    }
    if (S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0) {
        return std::nullopt;
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    std::string text = "the pipe folder " + dir + " is not safe (owner " +
                       std::to_string(static_cast<unsigned long long>(st.st_uid)) + ", mode " +
                       mode + ")";
    if (!S_ISDIR(st.st_mode)) {
        text += ": it is not a directory";
    }
    return text;
}

}  // namespace

std::optional<std::string> unsafePipeFolder() {
    // The same folders the platform layer uses: $XDG_RUNTIME_DIR/winpal/pipe,
    // or /tmp/winpal-UID/pipe without a runtime directory.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string base =
        runtime != nullptr && runtime[0] != '\0'
            ? std::string(runtime) + "/winpal"
            : "/tmp/winpal-" + std::to_string(static_cast<unsigned long long>(::geteuid()));
    for (const std::string& dir : {base, base + "/pipe"}) {
        if (std::optional<std::string> problem = unsafe(dir)) {
            return problem;
        }
    }
    return std::nullopt;
}
