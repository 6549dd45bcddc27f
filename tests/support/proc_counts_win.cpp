// SPDX-License-Identifier: MIT
// The open handles and threads of a process, as Windows counts them.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include "tests/support/proc_counts.h"

namespace mbtest {

namespace {

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
};

}  // namespace

// Handles stand for descriptors: pipe instances, events and threads are all one.
size_t openFdCount(pid_t pid) {
    Handle process{OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(pid))};
    DWORD count = 0;
    return process.h != nullptr && GetProcessHandleCount(process.h, &count) ? count : 0;
}

size_t threadCount(pid_t pid) {
    Handle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0)};
    if (snapshot.h == INVALID_HANDLE_VALUE) {
        return 0;
    }
    size_t n = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.h, &entry); more; more = Thread32Next(snapshot.h, &entry)) {
        if (entry.th32OwnerProcessID == static_cast<DWORD>(pid)) {
            ++n;
        }
    }
    return n;
}

size_t residentKiB(pid_t pid) {
    Handle process{OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                               static_cast<DWORD>(pid))};
    PROCESS_MEMORY_COUNTERS counters{};
    if (process.h == nullptr ||
        !GetProcessMemoryInfo(process.h, &counters, sizeof counters)) {
        return 0;
    }
    return counters.WorkingSetSize / 1024;
}

}  // namespace mbtest
