// SPDX-License-Identifier: MIT
// What the stand-in mapi32 library records, for tests that load it the way
// the Broker does and then read this through GetProcAddress("fakeMapiState").
#pragma once

#include <atomic>
#include <cstdint>

#include "mapi/mapi.h"

struct FakeMapiState {
    // Results the next calls return.
    std::atomic<HRESULT> initializeResult{0};
    std::atomic<HRESULT> logonResult{0};
    // The allocation (counted from 1) that fails; 0: none.
    std::atomic<int32_t> failAllocation{0};

    std::atomic<int32_t> initializeCalls{0};
    std::atomic<int32_t> uninitializeCalls{0};
    std::atomic<int32_t> logonCalls{0};
    std::atomic<int32_t> logoffCalls{0};
    std::atomic<int32_t> liveSessions{0};
    std::atomic<int32_t> allocateCalls{0};
    std::atomic<int32_t> freeCalls{0};

    std::atomic<bool> initArgWasNull{false};
    std::atomic<ULONG_PTR> lastUiParam{0};
    std::atomic<ULONG> lastFlags{0};
    std::atomic<bool> lastProfileWasNull{false};
    // Logoff arguments, all expected to be 0.
    std::atomic<ULONG_PTR> lastLogoffSum{0};

    void reset() {
        initializeResult = 0;
        logonResult = 0;
        failAllocation = 0;
        initializeCalls = uninitializeCalls = logonCalls = logoffCalls = 0;
        liveSessions = allocateCalls = freeCalls = 0;
        initArgWasNull = lastProfileWasNull = false;
        lastUiParam = 0;
        lastFlags = 0;
        lastLogoffSum = 0;
    }
};

typedef FakeMapiState*(FAKEMAPISTATE)();
