// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "pal/pal_test_support.h"
#include "pal/win32.h"

namespace {

using pal_test::finish;

LPVOID tag(uintptr_t n) {
    return reinterpret_cast<LPVOID>(n);
}

DWORD WINAPI useOwnSlot(LPVOID index) {
    DWORD i = *static_cast<DWORD*>(index);
    if (TlsGetValue(i) != nullptr) {
        return 1;  // saw another thread's value
    }
    return TlsSetValue(i, tag(0x2000)) && TlsGetValue(i) == tag(0x2000) ? 0 : 2;
}

TEST(Tls, ValuesStartNullAndArePerThread) {
    DWORD index = TlsAlloc();
    ASSERT_NE(index, TLS_OUT_OF_INDEXES);
    SetLastError(123);
    EXPECT_EQ(TlsGetValue(index), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));  // a stored null is no failure
    ASSERT_TRUE(TlsSetValue(index, tag(0x1000)));
    EXPECT_EQ(finish(CreateThread(nullptr, 0, useOwnSlot, &index, 0, nullptr)), 0u);
    SetLastError(123);
    EXPECT_EQ(TlsGetValue(index), tag(0x1000));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(TlsFree(index));
}

struct Reuse {
    DWORD index;
    HANDLE stored;  // released by the thread once its value is set
    HANDLE freed;   // released by the test once the slot is allocated again
};

DWORD WINAPI holdValueAcrossFree(LPVOID p) {
    auto* r = static_cast<Reuse*>(p);
    TlsSetValue(r->index, tag(0x3000));
    ReleaseSemaphore(r->stored, 1, nullptr);
    if (WaitForSingleObject(r->freed, 20000) != WAIT_OBJECT_0) {
        return 1;
    }
    return TlsGetValue(r->index) == nullptr ? 0 : 2;
}

TEST(Tls, FreeThenAllocReadsNullInEveryThread) {
    Reuse r{TlsAlloc(), CreateSemaphoreW(nullptr, 0, 1, nullptr),
            CreateSemaphoreW(nullptr, 0, 1, nullptr)};
    ASSERT_NE(r.index, TLS_OUT_OF_INDEXES);
    ASSERT_TRUE(TlsSetValue(r.index, tag(0x1000)));
    HANDLE thread = CreateThread(nullptr, 0, holdValueAcrossFree, &r, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(r.stored, 20000), WAIT_OBJECT_0);
    ASSERT_TRUE(TlsFree(r.index));
    ASSERT_EQ(TlsAlloc(), r.index);  // the lowest free index comes back
    EXPECT_EQ(TlsGetValue(r.index), nullptr);
    ASSERT_TRUE(ReleaseSemaphore(r.freed, 1, nullptr));
    EXPECT_EQ(finish(thread), 0u);
    EXPECT_TRUE(TlsFree(r.index));
    EXPECT_TRUE(CloseHandle(r.stored));
    EXPECT_TRUE(CloseHandle(r.freed));
}

TEST(Tls, BadIndexesFail) {
    DWORD index = TlsAlloc();
    ASSERT_TRUE(TlsFree(index));
    EXPECT_FAILS(TlsFree(index), FALSE, ERROR_INVALID_PARAMETER);
    for (DWORD bad : {DWORD{1088}, TLS_OUT_OF_INDEXES}) {
        EXPECT_FAILS(TlsFree(bad), FALSE, ERROR_INVALID_PARAMETER);
        EXPECT_FAILS(TlsGetValue(bad), nullptr, ERROR_INVALID_PARAMETER);
        EXPECT_FAILS(TlsSetValue(bad, tag(1)), FALSE, ERROR_INVALID_PARAMETER);
    }
}

DWORD WINAPI setAndGetAll(LPVOID p) {
    const auto& indexes = *static_cast<std::vector<DWORD>*>(p);
    for (DWORD i : indexes) {
        if (TlsGetValue(i) != nullptr || !TlsSetValue(i, tag(i + 1))) {
            return 1;
        }
    }
    for (DWORD i : indexes) {
        if (TlsGetValue(i) != tag(i + 1)) {
            return 2;
        }
    }
    return 0;
}

TEST(Tls, ExhaustionReturnsOutOfIndexes) {
    std::vector<DWORD> indexes;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;) {
        indexes.push_back(index);
        ASSERT_LE(indexes.size(), 1088u);
    }
    // Windows' own runtime may hold a few of the 64 + 1024 slots.
    EXPECT_GE(indexes.size(), 1000u);
    EXPECT_EQ(std::set<DWORD>(indexes.begin(), indexes.end()).size(), indexes.size());
    EXPECT_EQ(finish(CreateThread(nullptr, 0, setAndGetAll, &indexes, 0, nullptr)), 0u);

    ASSERT_TRUE(TlsFree(indexes[500]));
    EXPECT_EQ(TlsAlloc(), indexes[500]);
    for (DWORD index : indexes) {
        EXPECT_TRUE(TlsFree(index));
    }
}

}  // namespace
