#include "tests/support/proc_counts.h"

#include <filesystem>
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

}  // namespace mbtest
