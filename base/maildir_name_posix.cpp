// SPDX-License-Identifier: MIT
#include "base/maildir_name.h"

#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace mb {
namespace {

std::atomic<unsigned long> gNames{0};

}  // namespace

std::string uniqueMaildirName() {
    struct timeval now {};
    ::gettimeofday(&now, nullptr);
    char host[256] = "localhost";
    if (::gethostname(host, sizeof host - 1) != 0) {
        std::snprintf(host, sizeof host, "localhost");
    }
    host[sizeof host - 1] = '\0';
    std::string safeHost;
    for (const char* c = host; *c != '\0'; ++c) {
        if (*c == '/') {
            safeHost += "\\057";
        } else if (*c == ':') {
            safeHost += "\\072";
        } else {
            safeHost += *c;
        }
    }
    char name[128];
    std::snprintf(name, sizeof name, "%lld.M%lldP%lldQ%lu.", static_cast<long long>(now.tv_sec),
                  static_cast<long long>(now.tv_usec), static_cast<long long>(::getpid()),
                  ++gNames);
    return name + safeHost;
}

}  // namespace mb
