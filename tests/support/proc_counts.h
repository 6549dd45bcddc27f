// The open descriptors and threads of a process, as /proc lists them.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace mbtest {

size_t openFdCount(pid_t pid);
size_t threadCount(pid_t pid);
// Resident memory in KiB (VmRSS), 0 when unknown.
size_t residentKiB(pid_t pid);

}  // namespace mbtest
