// SPDX-License-Identifier: MIT
#include "provider/com/allocation.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

constexpr std::uint32_t kRootTag = 0x4D42524Fu;    // "MBRO"
constexpr std::uint32_t kLinkedTag = 0x4D424C4Bu;  // "MBLK"
constexpr std::uint32_t kFreedTag = 0x4D424644u;   // "MBFD"

struct alignas(16) BlockHeader {
    std::uint32_t tag;
    BlockHeader* root;  // null for a root
    BlockHeader* next;  // a root's chain of linked buffers
};

// One lock for every chain: linking and freeing are short, and a buffer may
// be linked from another thread than the one that allocated its root.
std::mutex& chainLock() {
    static std::mutex lock;
    return lock;
}

std::atomic<unsigned long> gLiveRoots{0};

BlockHeader* headerOf(void* buffer) {
    return reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(buffer) -
                                          sizeof(BlockHeader));
}

void* payloadOf(BlockHeader* header) {
    return reinterpret_cast<unsigned char*>(header + 1);
}

BlockHeader* newBlock(ULONG cbSize) {
    // ULONG is 32 bits, so the sum cannot overflow size_t.
    void* memory = std::calloc(1, sizeof(BlockHeader) + static_cast<std::size_t>(cbSize));
    return static_cast<BlockHeader*>(memory);
}

}  // namespace

namespace mb::provider {

unsigned long liveRootBuffers() {
    return gLiveRoots.load();
}

}  // namespace mb::provider

extern "C" SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    if (lppBuffer == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppBuffer = nullptr;
    BlockHeader* block = newBlock(cbSize);
    if (block == nullptr) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    block->tag = kRootTag;
    block->root = nullptr;
    block->next = nullptr;
    ++gLiveRoots;
    *lppBuffer = payloadOf(block);
    return S_OK;
}

extern "C" SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    if (lppBuffer == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppBuffer = nullptr;
    if (lpObject == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    BlockHeader* parent = headerOf(lpObject);
    BlockHeader* root = nullptr;
    if (parent->tag == kRootTag) {
        root = parent;
    } else if (parent->tag == kLinkedTag) {
        root = parent->root;
    } else {
        return MAPI_E_INVALID_PARAMETER;
    }
    BlockHeader* block = newBlock(cbSize);
    if (block == nullptr) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    block->tag = kLinkedTag;
    block->root = root;
    {
        std::lock_guard<std::mutex> guard(chainLock());
        block->next = root->next;
        root->next = block;
    }
    *lppBuffer = payloadOf(block);
    return S_OK;
}

extern "C" ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
    if (lpBuffer == nullptr) {
        return S_OK;
    }
    BlockHeader* root = headerOf(lpBuffer);
    if (root->tag == kLinkedTag) {
        // A linked buffer lives as long as its root; freeing it alone would
        // leave a dangling link in the root's chain.
        return S_OK;
    }
    if (root->tag != kRootTag) {
        return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    }
    BlockHeader* chain = nullptr;
    {
        std::lock_guard<std::mutex> guard(chainLock());
        chain = root->next;
        root->next = nullptr;
        root->tag = kFreedTag;
    }
    while (chain != nullptr) {
        BlockHeader* next = chain->next;
        chain->tag = kFreedTag;
        std::free(chain);
        chain = next;
    }
    std::free(root);
    --gLiveRoots;
    return S_OK;
}
