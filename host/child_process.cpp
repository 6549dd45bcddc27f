// SPDX-License-Identifier: MIT
// What a ChildProcess does the same way on every platform: it hands over to
// mb::Process. Starting one and reading its exit status are each platform's.
#include "host/child_process.h"

pid_t ChildProcess::pid() const {
    return process_.valid() ? static_cast<pid_t>(process_.id()) : -1;
}

bool ChildProcess::running() {
    return process_.running();
}

bool ChildProcess::kill(int signal) {
    return process_.running() && process_.signal(signal);
}

void ChildProcess::terminate() {
    process_.terminate();
}

void ChildProcess::detach() {
    process_.detach();
}
