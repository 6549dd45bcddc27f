// SPDX-License-Identifier: MIT
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "pal/win32.h"

namespace {

// Not a kernel handle: no handle table entry is ever a value that is not a
// multiple of 4, so CloseHandle and the waits reject it.
const HANDLE kProcessHeap = reinterpret_cast<HANDLE>(uintptr_t{0x7ff00001});

// Each block starts with its requested size and a check word, padded so that
// the caller's memory keeps malloc's 16-byte alignment. The check word makes most
// frees of a pointer HeapAlloc did not return (or no longer owns) fail rather than
// corrupt the heap; it cannot catch them all, as it reads the 16 bytes before.
struct alignas(16) Header {
    SIZE_T size;
    uint64_t check;
};
static_assert(sizeof(Header) == 16);
static_assert(alignof(std::max_align_t) >= 16, "malloc returns 16-byte aligned blocks");

constexpr uint64_t kLive = 0x6d62686561704c56u;

uint64_t checkFor(SIZE_T size) {
    return kLive ^ static_cast<uint64_t>(size);
}

// Larger requests fail before reaching malloc, whose tools may abort on them.
constexpr SIZE_T kMaxRequest = PTRDIFF_MAX / 2;

Header* headerOf(LPCVOID memory) {
    auto* header = const_cast<Header*>(static_cast<const Header*>(memory) - 1);
    return header->check == checkFor(header->size) ? header : nullptr;
}

}  // namespace

HANDLE GetProcessHeap() {
    return kProcessHeap;
}

// HEAP_NO_SERIALIZE is accepted (malloc is thread-safe either way). With
// HEAP_GENERATE_EXCEPTIONS a failure still returns NULL rather than raising.
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != kProcessHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (bytes > kMaxRequest) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const SIZE_T total = sizeof(Header) + bytes;
    void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, total) : std::malloc(total);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* header = static_cast<Header*>(block);
    header->size = bytes;
    header->check = checkFor(bytes);
    return header + 1;
}

BOOL HeapFree(HANDLE heap, DWORD /*flags*/, LPVOID memory) {
    if (heap != kProcessHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (memory == nullptr) {
        return TRUE;
    }
    Header* header = headerOf(memory);
    if (header == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Volatile, or the store would be dropped as dead before the free.
    *static_cast<volatile uint64_t*>(&header->check) = 0;
    std::free(header);
    return TRUE;
}

SIZE_T HeapSize(HANDLE heap, DWORD /*flags*/, LPCVOID memory) {
    if (heap != kProcessHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<SIZE_T>(-1);
    }
    const Header* header = memory != nullptr ? headerOf(memory) : nullptr;
    if (header == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return static_cast<SIZE_T>(-1);
    }
    return header->size;
}
