// SPDX-License-Identifier: MIT
#include "tests/support/broker_fixture.h"

namespace mbtest {

const std::string& isolatedRuntimeDir() {
    static const TempDir dir("runtime");
    return dir.path();
}

// Windows has no sleep(1) to borrow: a program of ours that only waits.
ChildProcess startStandInHost(int seconds) {
    return ChildProcess::start(MB_STAND_IN_HOST, {std::to_string(seconds)});
}

std::string quickExitProgram() {
    return MB_STAND_IN_HOST;
}

}  // namespace mbtest
