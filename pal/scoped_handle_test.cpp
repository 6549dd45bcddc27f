// SPDX-License-Identifier: MIT
// The owning holders of pal/scoped_handle.h, against Win32 calls only.
#include "pal/scoped_handle.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "pal/pipe_test_support.h"
#include "pal/win32.h"

namespace {

using mb::ScopedFileHandle;
using mb::ScopedHandle;
using mb::ScopedLocalMemory;

HANDLE newSetEvent() {
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_NE(event, nullptr);
    return event;
}

// A handle no longer open fails every wait with ERROR_INVALID_HANDLE. (No
// handle is opened between the close and this check, so its value cannot have
// been given out again.)
void expectClosed(HANDLE handle) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(ScopedHandle, EachConventionHasItsOwnNone) {
    ScopedHandle none;
    EXPECT_EQ(none.get(), nullptr);
    EXPECT_FALSE(none);
    ScopedFileHandle noFile;
    EXPECT_EQ(noFile.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(noFile);

    // What each family of calls returns on failure is an empty holder of the
    // matching kind.
    const std::string name = "mb-no-such-file-" + std::to_string(GetCurrentProcessId()) + ".txt";
    ScopedFileHandle missing(CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(missing);
    ScopedLocalMemory noBlock;
    EXPECT_EQ(noBlock.get(), nullptr);
    EXPECT_FALSE(noBlock);
}

TEST(ScopedHandle, ClosesTheHandleWhenItGoes) {
    HANDLE event = newSetEvent();
    {
        ScopedHandle owned(event);
        EXPECT_TRUE(owned);
        EXPECT_EQ(WaitForSingleObject(owned.get(), 0), WAIT_OBJECT_0);
    }
    expectClosed(event);
}

TEST(ScopedHandle, ReleaseHandsTheHandleBackOpen) {
    HANDLE event = newSetEvent();
    ScopedHandle owned(event);
    EXPECT_EQ(owned.release(), event);
    EXPECT_FALSE(owned);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(ScopedHandle, ResetAndMoveCloseOnlyWhatTheyReplace) {
    HANDLE first = newSetEvent();
    HANDLE second = newSetEvent();
    ScopedHandle owned(first);
    owned.reset(second);
    expectClosed(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);

    ScopedHandle taker(std::move(owned));
    EXPECT_FALSE(owned);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(taker.get(), second);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    taker.reset();
    expectClosed(second);
}

TEST(ScopedFileHandle, ClosingTheServerEndBreaksTheClientsPipe) {
    const std::string path = pipetest::uniquePipe("scoped");
    HANDLE client = INVALID_HANDLE_VALUE;
    {
        ScopedFileHandle server(pipetest::newServer(path));
        ASSERT_TRUE(server);
        client = pipetest::newClient(path);
        ASSERT_NE(client, INVALID_HANDLE_VALUE);
        SetLastError(0);
        EXPECT_FALSE(ConnectNamedPipe(server.get(), nullptr));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PIPE_CONNECTED));
        EXPECT_TRUE(PeekNamedPipe(client, nullptr, 0, nullptr, nullptr, nullptr));
    }
    EXPECT_FAILS(PeekNamedPipe(client, nullptr, 0, nullptr, nullptr, nullptr), FALSE,
                 ERROR_BROKEN_PIPE);
    EXPECT_TRUE(CloseHandle(client));
}

TEST(ScopedLocalMemory, FreesTheBlockUnlessReleased) {
    // Freed when the holder goes (a leak would show in the sanitizer build).
    {
        ScopedLocalMemory owned(LocalAlloc(LPTR, 64));
        ASSERT_TRUE(owned);
        EXPECT_EQ(static_cast<const BYTE*>(owned.get())[63], 0);
    }
    ScopedLocalMemory owned(LocalAlloc(LPTR, 16));
    ASSERT_TRUE(owned);
    HLOCAL block = owned.release();
    EXPECT_FALSE(owned);
    // Still the caller's to free: LocalFree succeeds and returns NULL.
    EXPECT_EQ(LocalFree(block), nullptr);
}

}  // namespace
