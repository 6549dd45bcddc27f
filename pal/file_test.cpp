// SPDX-License-Identifier: MIT
// Regular files read through CreateFileW and ReadFile, and the program's own
// path, asserted as Windows behaves.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "pal/file_test_support.h"
#include "pal/win32.h"
#include "pal/wine_test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using pal_test::PathOf;
using pal_test::ScratchDir;
using pal_test::Wide;
using pal_test::WString;

HANDLE OpenForReading(const WString& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

#define EXPECT_OPEN_FAILS(path, code)                              \
    do {                                                           \
        SetLastError(0);                                           \
        EXPECT_EQ(OpenForReading(path), INVALID_HANDLE_VALUE);     \
        EXPECT_EQ(GetLastError(), DWORD(code));                    \
    } while (0)

TEST(File, SizeIsTheFilesSizeNowAndTheWriteTimeStaysWhileUntouched) {
    ScratchDir dir;
    std::filesystem::path path = dir.write("growing", std::string(5000, 'g'));
    // Shared for writing, so that the file can grow while it is open.
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(file, &size)) << GetLastError();
    EXPECT_EQ(size.QuadPart, 5000);
    FILETIME first{};
    FILETIME again{};
    ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &first)) << GetLastError();
    BYTE block[4096];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(file, block, sizeof block, &got, nullptr));
    ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &again));
    EXPECT_EQ(again.dwLowDateTime, first.dwLowDateTime);
    EXPECT_EQ(again.dwHighDateTime, first.dwHighDateTime);
    // Appended through the C runtime: MinGW's file streams fail on wide paths.
#ifdef _WIN32
    std::FILE* more = _wfopen(path.c_str(), L"ab");
#else
    std::FILE* more = std::fopen(path.c_str(), "ab");
#endif
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(std::fwrite(std::string(100, 'h').data(), 1, 100, more), 100u);
    EXPECT_EQ(std::fclose(more), 0);
    ASSERT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, 5100);
    EXPECT_TRUE(CloseHandle(file));
}

TEST(File, ReadsARegularFileToItsEndInBlocks) {
    ScratchDir dir;
    std::string content;
    for (int i = 0; i < 10000; ++i) {
        content.push_back(static_cast<char>(i * 7 % 251));
    }
    HANDLE file = OpenForReading(Wide(dir.write("data.bin", content)));
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    std::string read;
    BYTE block[4096];
    DWORD got = 1;
    int calls = 0;
    while (got != 0) {
        ASSERT_TRUE(ReadFile(file, block, sizeof block, &got, nullptr)) << GetLastError();
        read.append(reinterpret_cast<const char*>(block), got);
        ++calls;
    }
    EXPECT_EQ(calls, 4);  // 4096, 4096, 1808, then 0 at the end
    EXPECT_EQ(read, content);
    EXPECT_TRUE(ReadFile(file, block, sizeof block, &got, nullptr));
    EXPECT_EQ(got, 0u);
    DWORD written = 1;
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(file));
    SetLastError(0);
    EXPECT_FALSE(ReadFile(file, block, sizeof block, &got, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(File, MissingFilesFoldersAndDirectories) {
    ScratchDir dir;
    EXPECT_OPEN_FAILS(Wide(dir / "absent.txt"), ERROR_FILE_NOT_FOUND);
    EXPECT_OPEN_FAILS(Wide(dir / "no-such-folder/a.txt"), ERROR_PATH_NOT_FOUND);
    dir.write("plain", "x");
    EXPECT_OPEN_FAILS(Wide(dir / "plain/a.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_OPEN_FAILS(WString(), ERROR_PATH_NOT_FOUND);
    EXPECT_OPEN_FAILS(Wide(dir.path()), ERROR_ACCESS_DENIED);
}

TEST(File, NonAsciiNames) {
    ScratchDir dir;
    std::filesystem::path path = dir.path() / PathOf(WLIT("r\u00E9sum\u00E9 \u4E2D.txt"));
    std::filesystem::copy_file(dir.write("ascii", "abc"), path);
    HANDLE file = OpenForReading(Wide(path));
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    char buffer[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "abc");
    EXPECT_TRUE(CloseHandle(file));
}

TEST(File, ProgramPathWithBackslashesAndWindowsTruncation) {
    WCHAR path[1024];
    DWORD length = GetModuleFileNameW(nullptr, path, 1024);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, 1024u);
    WString full(path, length);
    EXPECT_EQ(path[length], 0);
    EXPECT_EQ(full.find(u'/'), WString::npos);
    size_t name = full.rfind(u'\\');
    ASSERT_NE(name, WString::npos);
    EXPECT_NE(full.find(WLIT("pal_tests"), name), WString::npos);

    // Room for the text but not its terminator: cut, terminated, size returned.
    WCHAR cut[1024];
    for (WCHAR& c : cut) {
        c = u'#';
    }
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, cut, length), length);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    // Windows terminates the cut text (since Vista, as documented); Wine
    // copies `size` units and leaves it unterminated.
    if (!runningUnderWine()) {
        EXPECT_EQ(WString(cut), full.substr(0, length - 1));
    }
    EXPECT_EQ(cut[length], u'#');
    EXPECT_EQ(GetModuleFileNameW(nullptr, cut, length + 1), length);
    EXPECT_EQ(WString(cut), full);
}

#ifndef _WIN32
// What a Windows folder cannot hold: devices, FIFOs, unreadable files.

TEST(File, DevicesAndFifosAreNotFilesAndNeverBlock) {
    EXPECT_OPEN_FAILS(WString(u"/dev/zero"), ERROR_ACCESS_DENIED);
    ScratchDir dir;
    std::filesystem::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_OPEN_FAILS(Wide(fifo), ERROR_ACCESS_DENIED);  // no writer: must not wait for one
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(File, LastWriteTimeIsTheFilesModificationTime) {
    ScratchDir dir;
    std::filesystem::path path = dir.write("stamped", "abc");
    // 2001-09-09 01:46:40 UTC and 700 ns: 100-ns units counted from 1601.
    const struct timespec times[2] = {{1000000000, 700}, {1000000000, 700}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    HANDLE file = OpenForReading(Wide(path));
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME written{};
    FILETIME accessed{};
    ASSERT_TRUE(GetFileTime(file, nullptr, &accessed, &written));
    const ULONGLONG expected = (1000000000ull + 11644473600ull) * 10000000ull + 7;
    EXPECT_EQ((ULONGLONG(written.dwHighDateTime) << 32) | written.dwLowDateTime, expected);
    EXPECT_EQ((ULONGLONG(accessed.dwHighDateTime) << 32) | accessed.dwLowDateTime, expected);
    const struct timespec later[2] = {{1000000001, 0}, {1000000001, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &written));
    EXPECT_EQ((ULONGLONG(written.dwHighDateTime) << 32) | written.dwLowDateTime,
              expected - 7 + 10000000);
    EXPECT_TRUE(CloseHandle(file));
}

TEST(File, SizeAndTimesOfAHandleThatIsNoFileAreRefused) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    LARGE_INTEGER size{};
    SetLastError(0);
    EXPECT_FALSE(GetFileSizeEx(event, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    FILETIME written{};
    EXPECT_FALSE(GetFileTime(event, nullptr, nullptr, &written));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(event));
}

TEST(File, UnreadableFileIsAccessDenied) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    ScratchDir dir;
    std::filesystem::path file = dir.write("secret", "x");
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    EXPECT_OPEN_FAILS(Wide(file), ERROR_ACCESS_DENIED);
}

TEST(File, OnlyReadingExistingFilesAndNoOverlapped) {
    ScratchDir dir;
    WString path = Wide(dir.write("a", "abc"));
    SetLastError(0);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    HANDLE file = OpenForReading(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    OVERLAPPED ov{};
    char buffer[4];
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, nullptr, &ov));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(CloseHandle(file));
}
#endif

}  // namespace
