// SPDX-License-Identifier: MIT
#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>

#include "pal/win32.h"

namespace {

// Windows' 64 slots plus its 1024 expansion slots.
constexpr DWORD kSlots = 1088;
constexpr DWORD kChunkSlots = 64;
constexpr DWORD kChunks = kSlots / kChunkSlots;
static_assert(kSlots % kChunkSlots == 0);

std::mutex gMutex;
bool gAllocated[kSlots];  // under gMutex

// Bumped whenever a slot is allocated or freed. A thread's value counts only if
// stored under the current generation, so a slot reads null in every thread
// after TlsFree, and after TlsAlloc hands it out again, without visiting them.
std::atomic<uint64_t> gGeneration[kSlots];

struct Entry {
    LPVOID value;
    uint64_t generation;
};

// Each thread's values, in chunks allocated on first store and freed at thread exit.
struct ThreadSlots {
    Entry* chunks[kChunks] = {};
    ~ThreadSlots() {
        for (Entry*& chunk : chunks) {
            delete[] chunk;
            chunk = nullptr;
        }
    }
};
thread_local ThreadSlots tSlots;

}  // namespace

DWORD TlsAlloc() {
    std::lock_guard<std::mutex> lock(gMutex);
    for (DWORD index = 0; index < kSlots; ++index) {
        if (!gAllocated[index]) {
            gAllocated[index] = true;
            gGeneration[index].fetch_add(1, std::memory_order_release);
            return index;
        }
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return TLS_OUT_OF_INDEXES;
}

BOOL TlsFree(DWORD index) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (index >= kSlots || !gAllocated[index]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    gAllocated[index] = false;
    gGeneration[index].fetch_add(1, std::memory_order_release);
    return TRUE;
}

LPVOID TlsGetValue(DWORD index) {
    if (index >= kSlots) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Windows clears the last error on success, so that a stored null can be told
    // from a failure.
    SetLastError(ERROR_SUCCESS);
    const Entry* chunk = tSlots.chunks[index / kChunkSlots];
    if (chunk == nullptr) {
        return nullptr;
    }
    const Entry& entry = chunk[index % kChunkSlots];
    if (entry.generation != gGeneration[index].load(std::memory_order_acquire)) {
        return nullptr;
    }
    return entry.value;
}

// Like Windows, a store into an in-range slot that is not allocated succeeds.
BOOL TlsSetValue(DWORD index, LPVOID value) {
    if (index >= kSlots) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Entry*& chunk = tSlots.chunks[index / kChunkSlots];
    if (chunk == nullptr) {
        chunk = new (std::nothrow) Entry[kChunkSlots]();
        if (chunk == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
    }
    chunk[index % kChunkSlots] = Entry{value, gGeneration[index].load(std::memory_order_acquire)};
    return TRUE;
}
