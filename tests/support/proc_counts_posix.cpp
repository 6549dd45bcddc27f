// SPDX-License-Identifier: MIT
#include "tests/support/proc_counts.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace mbtest {
namespace {

size_t countEntries(const std::string& dir) {
    std::error_code ec;
    size_t n = 0;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        ++n;
    }
    return n;
}

}  // namespace

size_t openFdCount(pid_t pid) {
    return countEntries("/proc/" + std::to_string(pid) + "/fd");
}
size_t threadCount(pid_t pid) {
    return countEntries("/proc/" + std::to_string(pid) + "/task");
}

size_t residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoul(line.substr(6));
        }
    }
    return 0;
}

}  // namespace mbtest
