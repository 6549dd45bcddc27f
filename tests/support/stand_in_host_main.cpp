// SPDX-License-Identifier: MIT
// Stands in for a host process on Windows, which has no sleep(1): lives for the
// seconds its argument names, then exits 0.
#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    std::this_thread::sleep_for(std::chrono::seconds(seconds > 0 ? seconds : 0));
    return 0;
}
