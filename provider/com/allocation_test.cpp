// SPDX-License-Identifier: MIT
#include "provider/com/allocation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace mb::provider {
namespace {

TEST(Allocation, BufferIsZeroFilledAndAligned) {
    unsigned long before = liveRootBuffers();
    void* buffer = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(64, &buffer), S_OK);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 16, 0u);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(bytes[i], 0) << i;
    }
    EXPECT_EQ(liveRootBuffers(), before + 1);
    EXPECT_EQ(MAPIFreeBuffer(buffer), static_cast<ULONG>(S_OK));
    EXPECT_EQ(liveRootBuffers(), before);
}

TEST(Allocation, ZeroSizeGivesAFreeableBuffer) {
    void* buffer = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(0, &buffer), S_OK);
    EXPECT_NE(buffer, nullptr);
    EXPECT_EQ(MAPIFreeBuffer(buffer), static_cast<ULONG>(S_OK));
}

TEST(Allocation, NullArgumentsAreRejected) {
    void* buffer = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(MAPIAllocateBuffer(8, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(MAPIAllocateMore(8, nullptr, &buffer), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer, nullptr);
    void* root = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(8, &root), S_OK);
    EXPECT_EQ(MAPIAllocateMore(8, root, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(MAPIFreeBuffer(root), static_cast<ULONG>(S_OK));
    EXPECT_EQ(MAPIFreeBuffer(nullptr), static_cast<ULONG>(S_OK));
}

// The sanitizer build checks that freeing the root frees every linked
// buffer: anything left over is reported as a leak.
TEST(Allocation, LinkedBuffersAreFreedWithTheRoot) {
    unsigned long before = liveRootBuffers();
    void* root = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(sizeof(char*) * 3, &root), S_OK);
    auto** slots = static_cast<char**>(root);
    for (int i = 0; i < 3; ++i) {
        void* more = nullptr;
        ASSERT_EQ(MAPIAllocateMore(100 + i, root, &more), S_OK);
        std::memset(more, 'a' + i, 100 + i);
        slots[i] = static_cast<char*>(more);
    }
    // A buffer linked to a linked buffer belongs to the same root.
    void* grandchild = nullptr;
    ASSERT_EQ(MAPIAllocateMore(32, slots[1], &grandchild), S_OK);
    std::memset(grandchild, 'z', 32);
    EXPECT_EQ(slots[0][99], 'a');
    EXPECT_EQ(slots[2][101], 'c');
    // Freeing a linked buffer alone does nothing; it goes with its root.
    EXPECT_EQ(MAPIFreeBuffer(slots[0]), static_cast<ULONG>(S_OK));
    EXPECT_EQ(slots[0][0], 'a');
    EXPECT_EQ(liveRootBuffers(), before + 1);
    EXPECT_EQ(MAPIFreeBuffer(root), static_cast<ULONG>(S_OK));
    EXPECT_EQ(liveRootBuffers(), before);
}

TEST(Allocation, ThreadsLinkToOneRootSafely) {
    void* root = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(8, &root), S_OK);
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([root, t, &failures] {
            for (int i = 0; i < 500; ++i) {
                void* more = nullptr;
                if (MAPIAllocateMore(16, root, &more) != S_OK || more == nullptr) {
                    ++failures[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int count : failures) {
        EXPECT_EQ(count, 0);
    }
    EXPECT_EQ(MAPIFreeBuffer(root), static_cast<ULONG>(S_OK));
}

}  // namespace
}  // namespace mb::provider
