// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "pal/win32.h"

namespace {

TEST(Heap, ZeroMemoryFlagZeroFills) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(GetProcessHeap(), heap);
    // Dirty a block first, so that reusing it unzeroed would show.
    void* dirty = HeapAlloc(heap, 0, 4000);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xAB, 4000);
    EXPECT_TRUE(HeapFree(heap, 0, dirty));

    auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4000));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4000; ++i) {
        ASSERT_EQ(block[i], 0) << "byte " << i;
    }
    EXPECT_TRUE(HeapFree(heap, 0, block));
}

TEST(Heap, BlocksAreAlignedSizedAndDistinct) {
    void* previous = nullptr;
    for (SIZE_T size : {SIZE_T{0}, SIZE_T{0}, SIZE_T{1}, SIZE_T{17}, SIZE_T{1000}}) {
        void* p = HeapAlloc(GetProcessHeap(), 0, size);
        ASSERT_NE(p, nullptr);
        EXPECT_NE(p, previous);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (2 * sizeof(void*)), 0u);
        EXPECT_EQ(HeapSize(GetProcessHeap(), 0, p), size);
        std::memset(p, 0x5A, size);                            // the whole size is usable
        EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, previous));  // null the first time
        previous = p;
    }
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, previous));
}

TEST(Heap, HugeRequestFailsWithNull) {
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, ~SIZE_T{0} - 64), nullptr);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, ~SIZE_T{0} / 2), nullptr);
}

#ifndef _WIN32
// Windows faults on these; this layer reports them.
TEST(HeapLayer, WrongHeapHandleAndForeignBlockFail) {
    int local[8] = {};
    HANDLE wrong = reinterpret_cast<HANDLE>(uintptr_t{0x1000});
    SetLastError(0);
    EXPECT_EQ(HeapAlloc(wrong, 0, 8), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_EQ(HeapSize(nullptr, 0, local), ~SIZE_T{0});
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(HeapFree(GetProcessHeap(), 0, &local[4]));  // 16 zero bytes before it
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(GetProcessHeap()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}
#endif

}  // namespace
