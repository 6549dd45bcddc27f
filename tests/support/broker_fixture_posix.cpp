// SPDX-License-Identifier: MIT
#include <stdlib.h>

#include "tests/support/broker_fixture.h"

namespace mbtest {

const std::string& isolatedRuntimeDir() {
    // Removed at exit; every Broker has been killed and reaped by then.
    static const TempDir dir("runtime");
    static const bool set = ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1) == 0;
    (void)set;
    return dir.path();
}

ChildProcess startStandInHost(int seconds) {
    return seconds == 0 ? ChildProcess::start("/bin/true", {})
                        : ChildProcess::start("/bin/sleep", {std::to_string(seconds)});
}

std::string quickExitProgram() {
    return "/bin/true";
}

}  // namespace mbtest
