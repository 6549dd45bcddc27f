// SPDX-License-Identifier: MIT
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "host/client_cli.h"

int main(int argc, char** argv) {
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string selfPath = n > 0 ? std::string(self, static_cast<size_t>(n)) : argv[0];
    std::vector<std::string> args(argv + 1, argv + argc);
    return runClient(args, selfPath, std::cout, std::cerr);
}
