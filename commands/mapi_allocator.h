// SPDX-License-Identifier: MIT
// The allocators through which the commands obtain and release MAPI buffers.
#pragma once

#include <cstdint>

#include "mapi/mapi.h"

class WabOrMapiAllocator {
  public:
    WabOrMapiAllocator() = default;
    WabOrMapiAllocator(const WabOrMapiAllocator&) = delete;
    WabOrMapiAllocator& operator=(const WabOrMapiAllocator&) = delete;
    virtual ~WabOrMapiAllocator();

    virtual SCODE allocateBuffer(ULONG size, LPVOID* out) = 0;
    virtual ULONG freeBuffer(LPVOID buffer) = 0;
};

// The loaded library's MAPIAllocateBuffer and MAPIFreeBuffer. Either may be
// missing; a call through a missing one fails instead of jumping to null.
class MapiAllocator : public WabOrMapiAllocator {
  public:
    MapiAllocator(LPMAPIALLOCATEBUFFER allocateFn, LPMAPIFREEBUFFER freeFn)
        : allocateFn_(allocateFn), freeFn_(freeFn) {}
    ~MapiAllocator() override;

    SCODE allocateBuffer(ULONG size, LPVOID* out) override;
    ULONG freeBuffer(LPVOID buffer) override;

  private:
    LPMAPIALLOCATEBUFFER allocateFn_;
    LPMAPIFREEBUFFER freeFn_;
};
