// SPDX-License-Identifier: MIT
#include "commands/attachment_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/temp_dir_test_support.h"
#include "foundation/ks_string.h"

namespace {

namespace fs = std::filesystem;

// A stream that keeps what it is given and runs a hook after each write: the
// hook changes the file between two reads of the copy, without any timing.
class RecordingStream final : public IStream {
  public:
    std::string data;
    int writes = 0;
    std::function<void(int)> afterWrite;
    HRESULT failWith = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (failWith < 0) {
            return failWith;
        }
        data.append(static_cast<const char*>(pv), cb);
        *pcbWritten = cb;
        ++writes;
        if (afterWrite) {
            afterWrite(writes);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
};

// Windows opens the attachment sharing it for reading only, so nobody can
// change it while the Broker reads it: the change is refused and the copy is
// whole. POSIX has no such lock; there the change happens and the copy fails.
#ifdef _WIN32
constexpr bool kChangeWhileReadIsRefused = true;
#else
constexpr bool kChangeWhileReadIsRefused = false;
#endif

class AttachmentFileTest : public ::testing::Test {
  protected:

    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    AttachmentCopy copy(const std::string& path) {
        KsString wide(path.c_str());
        return copyAttachmentFile(wide.wideView(), &stream_);
    }
    static std::string content(size_t size) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>(i * 13 % 251);
        }
        return bytes;
    }

    // What a change made during the copy came to: the copy's result when the
    // change went through, S_OK with the whole file when it was refused.
    void expectChangeOutcome(bool changed, const AttachmentCopy& result, size_t size) {
        EXPECT_EQ(changed, !kChangeWhileReadIsRefused);
        if (changed) {
            EXPECT_EQ(result.file, MAPI_E_NO_ACCESS);
        } else {
            EXPECT_EQ(result.file, S_OK);
            EXPECT_EQ(stream_.data.size(), size);
        }
    }

    mb::test::TempDir temp_{"attach"};
    fs::path dir_ = temp_.path();
    RecordingStream stream_;
};

TEST_F(AttachmentFileTest, CopiesARegularFileWhole) {
    const std::string bytes = content(3 * 4096 + 17);
    const AttachmentCopy result = copy(write("a.bin", bytes));
    EXPECT_EQ(result.file, S_OK);
    EXPECT_EQ(result.stream, S_OK);
    EXPECT_EQ(stream_.data, bytes);
}

TEST_F(AttachmentFileTest, EmptyFileIsAnEmptyCopy) {
    const AttachmentCopy result = copy(write("empty", ""));
    EXPECT_EQ(result.file, S_OK);
    EXPECT_EQ(stream_.writes, 0);
}

TEST_F(AttachmentFileTest, NothingAtThePathIsNotFound) {
    EXPECT_EQ(copy((dir_ / "missing.pdf").string()).file, MAPI_E_NOT_FOUND);
    EXPECT_EQ(copy((dir_ / "no-folder" / "x.pdf").string()).file, MAPI_E_NOT_FOUND);
#ifndef _WIN32  // links need a privilege on Windows
    fs::create_symlink(dir_ / "gone", dir_ / "dangling");
    EXPECT_EQ(copy((dir_ / "dangling").string()).file, MAPI_E_NOT_FOUND);
    fs::create_symlink(dir_ / "loop-b", dir_ / "loop-a");
    fs::create_symlink(dir_ / "loop-a", dir_ / "loop-b");
    EXPECT_EQ(copy((dir_ / "loop-a").string()).file, MAPI_E_NOT_FOUND);
#endif
    EXPECT_TRUE(stream_.data.empty());
}

TEST_F(AttachmentFileTest, WhatIsNoRegularFileIsNoAccessAndNeverBlocks) {
    fs::create_directory(dir_ / "folder");
    std::vector<std::string> paths = {(dir_ / "folder").string()};
#ifndef _WIN32
    const std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    paths.insert(paths.end(), {fifo, "/dev/zero", "/proc/self/mem", "/proc/self/status"});
#endif
    for (const std::string& path : paths) {
        EXPECT_EQ(copy(path).file, MAPI_E_NO_ACCESS) << path;
    }
    EXPECT_TRUE(stream_.data.empty());
}

#ifndef _WIN32  // permissions are ACLs on Windows
TEST_F(AttachmentFileTest, FileWithoutReadPermissionIsNoAccess) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    const std::string path = write("secret", "secret");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    EXPECT_EQ(copy(path).file, MAPI_E_NO_ACCESS);
}
#endif

TEST_F(AttachmentFileTest, FileThatShrinksWhileReadIsNoAccess) {
    const std::string path = write("shrinks", content(3 * 4096));
    bool changed = false;
    stream_.afterWrite = [&](int writes) {
        if (writes == 1) {
            std::error_code error;
            fs::resize_file(path, 4096 + 100, error);
            changed = !error;
        }
    };
    expectChangeOutcome(changed, copy(path), 3 * 4096);
    if (changed) {
        EXPECT_EQ(stream_.data.size(), 4096u) << "the short second block is not passed on";
    }
}

TEST_F(AttachmentFileTest, FileCutToItsEndOfBlockWhileReadIsNoAccess) {
    // Shrunk to a block boundary, no read comes short; the size tells.
    const std::string path = write("cut", content(3 * 4096));
    bool changed = false;
    stream_.afterWrite = [&](int writes) {
        if (writes == 2) {
            std::error_code error;
            fs::resize_file(path, 2 * 4096, error);
            changed = !error;
        }
    };
    expectChangeOutcome(changed, copy(path), 3 * 4096);
}

TEST_F(AttachmentFileTest, FileThatGrowsWhileReadIsNoAccess) {
    const std::string path = write("grows", content(2 * 4096));
    bool changed = false;
    stream_.afterWrite = [&](int writes) {
        if (writes == 1) {
            std::ofstream more(path, std::ios::binary | std::ios::app);
            more << "more";
            more.close();
            changed = !more.fail();
        }
    };
    expectChangeOutcome(changed, copy(path), 2 * 4096);
    EXPECT_EQ(stream_.data.size(), 2u * 4096) << "only the size seen at the open is read";
}

TEST_F(AttachmentFileTest, FileRewrittenInPlaceWhileReadIsNoAccess) {
    const std::string path = write("rewritten", content(2 * 4096));
    fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(24 * 365));
    bool changed = false;
    stream_.afterWrite = [&](int writes) {
        if (writes == 1) {
            // Same size, other bytes: only the write time shows it.
            std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
            file.seekp(0);
            file << "XXXX";
            file.close();
            changed = !file.fail();
        }
    };
    expectChangeOutcome(changed, copy(path), 2 * 4096);
}

TEST_F(AttachmentFileTest, StreamFailureIsTheStreamsNotTheFiles) {
    stream_.failWith = static_cast<HRESULT>(0x8004010D);  // MAPI_E_NOT_ENOUGH_DISK
    const AttachmentCopy result = copy(write("a", "abc"));
    EXPECT_EQ(result.stream, static_cast<HRESULT>(0x8004010D));
    EXPECT_EQ(result.file, S_OK);
}

}  // namespace
