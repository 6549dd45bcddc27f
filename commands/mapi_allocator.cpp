// SPDX-License-Identifier: MIT
#include "commands/mapi_allocator.h"

WabOrMapiAllocator::~WabOrMapiAllocator() = default;

MapiAllocator::~MapiAllocator() = default;

SCODE MapiAllocator::allocateBuffer(ULONG size, LPVOID* out) {
    if (allocateFn_ == nullptr) {
        if (out != nullptr) {
            *out = nullptr;
        }
        return MAPI_E_NO_SUPPORT;
    }
    return allocateFn_(size, out);
}

ULONG MapiAllocator::freeBuffer(LPVOID buffer) {
    if (freeFn_ == nullptr) {
        return static_cast<ULONG>(MAPI_E_NO_SUPPORT);
    }
    return freeFn_(buffer);
}
