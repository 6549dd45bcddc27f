// SPDX-License-Identifier: MIT
// Loading libraries and finding their exports, as Windows behaves. The tests
// load pal_fixture, a small library built beside the test program.
#include <gtest/gtest.h>

#include <string>

#include "pal/pal_test_support.h"
#include "pal/win32.h"

#ifndef _WIN32
#include <unistd.h>

#include <vector>
#endif

namespace {

typedef int (*IntFunction)();

// An export as the function it is; void(*)() is the type every function
// pointer may pass through.
IntFunction asIntFunction(FARPROC proc) {
    return reinterpret_cast<IntFunction>(reinterpret_cast<void (*)()>(proc));
}

int call(HMODULE module, const char* name) {
    FARPROC proc = GetProcAddress(module, name);
    EXPECT_NE(proc, nullptr) << name;
    return proc != nullptr ? asIntFunction(proc)() : -1;
}

TEST(Module, LoadsFromTheProgramsDirectoryAndFindsExports) {
    HMODULE fixture = LoadLibraryA("pal_fixture.dll");
    ASSERT_NE(fixture, nullptr) << GetLastError();
    EXPECT_EQ(call(fixture, "pal_fixture_answer"), 4242);
    EXPECT_TRUE(FreeLibrary(fixture));
}

TEST(Module, MissingExportsFail) {
    HMODULE fixture = LoadLibraryA("pal_fixture.dll");
    ASSERT_NE(fixture, nullptr);
    EXPECT_FAILS(GetProcAddress(fixture, "no_such_function"), nullptr, ERROR_PROC_NOT_FOUND);
    EXPECT_FAILS(GetProcAddress(fixture, ""), nullptr, ERROR_PROC_NOT_FOUND);
    EXPECT_FAILS(GetProcAddress(fixture, "PAL_FIXTURE_ANSWER"), nullptr, ERROR_PROC_NOT_FOUND);
    // What the library takes from the C runtime is not one of its exports.
    EXPECT_FAILS(GetProcAddress(fixture, "malloc"), nullptr, ERROR_PROC_NOT_FOUND);
    // Ordinal 0, and a null module (the program, which exports none of these).
    EXPECT_FAILS(GetProcAddress(fixture, nullptr), nullptr, ERROR_PROC_NOT_FOUND);
    EXPECT_FAILS(GetProcAddress(nullptr, "no_such_function"), nullptr, ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(fixture));
}

TEST(Module, MissingLibrariesFail) {
    EXPECT_FAILS(LoadLibraryA("no_such_library.dll"), nullptr, ERROR_MOD_NOT_FOUND);
    EXPECT_FAILS(LoadLibraryA("no_such_library"), nullptr, ERROR_MOD_NOT_FOUND);
    EXPECT_FAILS(LoadLibraryA(""), nullptr, ERROR_MOD_NOT_FOUND);
    EXPECT_FAILS(LoadLibraryA(nullptr), nullptr, ERROR_MOD_NOT_FOUND);
    // A trailing dot asks for the file without any extension, which is not there.
    EXPECT_FAILS(LoadLibraryA("pal_fixture."), nullptr, ERROR_MOD_NOT_FOUND);
}

TEST(Module, NamesIgnoreCaseAndDefaultToDll) {
    HMODULE fixture = LoadLibraryA("pal_fixture.dll");
    ASSERT_NE(fixture, nullptr);
    HMODULE bare = LoadLibraryA("pal_fixture");
    HMODULE upper = LoadLibraryA("PAL_FIXTURE.DLL");
    EXPECT_EQ(bare, fixture);
    EXPECT_EQ(upper, fixture);
    EXPECT_TRUE(FreeLibrary(upper));
    EXPECT_TRUE(FreeLibrary(bare));
    EXPECT_TRUE(FreeLibrary(fixture));
}

TEST(Module, LoadsAreCountedAndTheLastFreeUnloads) {
    HMODULE first = LoadLibraryA("pal_fixture.dll");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(call(first, "pal_fixture_count"), 1);
    HMODULE second = LoadLibraryA("pal_fixture.dll");
    EXPECT_EQ(second, first);
    EXPECT_EQ(call(second, "pal_fixture_count"), 2);
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(call(first, "pal_fixture_count"), 3);  // still loaded, same state
    EXPECT_TRUE(FreeLibrary(first));

    HMODULE fresh = LoadLibraryA("pal_fixture.dll");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(call(fresh, "pal_fixture_count"), 1);  // loaded anew
    EXPECT_TRUE(FreeLibrary(fresh));
}

TEST(Module, ModuleHandlesAreNoKernelHandles) {
    HMODULE fixture = LoadLibraryA("pal_fixture.dll");
    ASSERT_NE(fixture, nullptr);
    EXPECT_FAILS(CloseHandle(fixture), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FAILS(WaitForSingleObject(fixture, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
    EXPECT_FAILS(SetEvent(fixture), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_EQ(call(fixture, "pal_fixture_answer"), 4242);  // untouched
    EXPECT_TRUE(FreeLibrary(fixture));
    EXPECT_FAILS(FreeLibrary(nullptr), FALSE, ERROR_INVALID_HANDLE);
}

#ifndef _WIN32
std::string programDirectory() {
    std::vector<char> path(4096);
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    std::string text(path.data(), n > 0 ? static_cast<size_t>(n) : 0);
    return text.substr(0, text.rfind('/') + 1);
}

// Windows has no such names, and may still have a freed library mapped at the
// handle's address.
TEST(ModuleLayer, PathsAndFileNamesAndStaleHandles) {
    HMODULE fixture = LoadLibraryA("pal_fixture.dll");
    ASSERT_NE(fixture, nullptr);
    HMODULE byPath = LoadLibraryA((programDirectory() + "libpal_fixture.so").c_str());
    EXPECT_EQ(byPath, fixture);
    HMODULE byFileName = LoadLibraryA("libpal_fixture.so");
    EXPECT_EQ(byFileName, fixture);
    EXPECT_FAILS(LoadLibraryA("/no/such/directory/libpal_fixture.so"), nullptr,
                 ERROR_MOD_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(byPath));
    EXPECT_TRUE(FreeLibrary(byFileName));
    EXPECT_TRUE(FreeLibrary(fixture));

    EXPECT_FAILS(GetProcAddress(fixture, "pal_fixture_answer"), nullptr, ERROR_MOD_NOT_FOUND);
    EXPECT_FAILS(FreeLibrary(fixture), FALSE, ERROR_MOD_NOT_FOUND);
    HMODULE bogus = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7000));
    EXPECT_FAILS(GetProcAddress(bogus, "pal_fixture_answer"), nullptr, ERROR_MOD_NOT_FOUND);
    EXPECT_FAILS(FreeLibrary(bogus), FALSE, ERROR_MOD_NOT_FOUND);
}

TEST(ModuleLayer, SystemLibrariesAreFoundWhereTheSystemLooks) {
    // libc.so.6 has an extension, so the name is taken as is.
    HMODULE libc = LoadLibraryA("libc.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(GetProcAddress(libc, "strlen"), nullptr);
    EXPECT_TRUE(FreeLibrary(libc));
}
#endif

}  // namespace
