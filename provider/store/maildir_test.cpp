// SPDX-License-Identifier: MIT
#include "provider/store/maildir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "base/temp_dir_test_support.h"

namespace mb::provider::test {
namespace {

class MaildirTest : public ::testing::Test {
  protected:
    std::size_t count(const std::string& dir) const {
        std::error_code error;
        std::size_t n = 0;
        for (auto it = std::filesystem::directory_iterator(dir, error);
             !error && it != std::filesystem::directory_iterator(); ++it) {
            ++n;
        }
        return n;
    }
    mb::test::TempDir temp_{"maildir"};
    std::string root_ = temp_.path();
};

TEST(MaildirNames, NewFolderNamesCarryNoInfo) {
    EXPECT_EQ(newFolderName("1765.M1P2Q3.host:2,S"), "1765.M1P2Q3.host");
    EXPECT_EQ(newFolderName("1765.M1P2Q3.host:2,"), "1765.M1P2Q3.host");
    EXPECT_EQ(newFolderName("1765.M1P2Q3.host"), "1765.M1P2Q3.host");
}

TEST_F(MaildirTest, DeliveryLandsWholeInNew) {
    Maildir box(root_ + "/Box");
    std::string path;
    ASSERT_EQ(box.deliver([](int fd) { return writeAll(fd, "hello\n", 6) ? S_OK : E_FAIL; }, path),
              S_OK);
    EXPECT_EQ(std::filesystem::path(path).parent_path(), root_ + "/Box/new");
    EXPECT_EQ(std::filesystem::file_size(path), 6u);
    EXPECT_EQ(count(root_ + "/Box/tmp"), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(root_ + "/Box/cur"));
    // Replacing keeps one file under the same name.
    std::string again;
    ASSERT_EQ(box.deliver([](int fd) { return writeAll(fd, "x", 1) ? S_OK : E_FAIL; }, again, path),
              S_OK);
    EXPECT_EQ(again, path);
    EXPECT_EQ(std::filesystem::file_size(path), 1u);
    EXPECT_EQ(count(root_ + "/Box/new"), 1u);
}

TEST_F(MaildirTest, FailedWriterLeavesNothing) {
    Maildir box(root_ + "/Box");
    std::string path;
    EXPECT_EQ(box.deliver(
                  [](int fd) {
                      writeAll(fd, "part", 4);
                      return MAPI_E_NOT_ENOUGH_DISK;
                  },
                  path),
              MAPI_E_NOT_ENOUGH_DISK);
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(count(root_ + "/Box/new"), 0u);
    EXPECT_EQ(count(root_ + "/Box/tmp"), 0u);
}

TEST_F(MaildirTest, FileSizeLimitIsDiskFull) {
    Maildir box(root_ + "/Box");
    ASSERT_EQ(box.ensure(), S_OK);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* previous = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string path;
    const std::vector<char> big(10000, 'x');
    const HRESULT hr = box.deliver(
        [&](int fd) { return writeAll(fd, big.data(), big.size()) ? S_OK : mapiFromErrno(errno); },
        path);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(hr, MAPI_E_NOT_ENOUGH_DISK);
    EXPECT_EQ(count(root_ + "/Box/new"), 0u);
    EXPECT_EQ(count(root_ + "/Box/tmp"), 0u);
}

TEST_F(MaildirTest, UnusableFolderIsAnError) {
    std::ofstream(root_ + "/file") << "not a directory";
    Maildir box(root_ + "/file/Box");
    EXPECT_TRUE(FAILED(box.ensure()));
    std::string path;
    EXPECT_TRUE(FAILED(box.deliver([](int) { return S_OK; }, path)));
    ScopedFd scratch;
    EXPECT_TRUE(FAILED(box.openScratch(scratch)));
    if (geteuid() != 0) {  // root writes anywhere
        std::filesystem::create_directories(root_ + "/locked");
        std::filesystem::permissions(root_ + "/locked", std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_exec);
        EXPECT_EQ(Maildir(root_ + "/locked/Box").ensure(), MAPI_E_NO_ACCESS);
    }
}

TEST_F(MaildirTest, ScratchFilesHaveNoName) {
    Maildir box(root_ + "/Box");
    ScopedFd scratch;
    ASSERT_EQ(box.openScratch(scratch), S_OK);
    EXPECT_TRUE(writeAll(scratch.get(), "data", 4));
    EXPECT_EQ(count(root_ + "/Box/tmp"), 0u);
}

TEST_F(MaildirTest, StaleTemporariesGoAndEverythingElseStays) {
    const std::time_t now = 2'000'000'000;
    const auto age = [&](const std::string& path, std::time_t mtime) {
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
    };
    ASSERT_EQ(Maildir(root_ + "/Outbox").ensure(), S_OK);
    const std::string tmp = root_ + "/Outbox/tmp/";
    std::ofstream(tmp + "old") << "x";
    std::ofstream(tmp + "young") << "x";
    std::ofstream(root_ + "/target") << "x";
    std::filesystem::create_directory(tmp + "olddir");
    std::filesystem::create_symlink(root_ + "/target", tmp + "oldlink");
    std::filesystem::create_directories(root_ + "/.retry");
    std::ofstream(root_ + "/.retry/old") << "x";
    age(tmp + "old", now - 36 * 3600 - 1);
    age(tmp + "young", now - 36 * 3600 + 60);
    age(tmp + "olddir", now - 100 * 3600);
    age(tmp + "oldlink", now - 100 * 3600);
    age(root_ + "/.retry/old", now - 100 * 3600);
    EXPECT_EQ(removeStaleTemporaries(root_, now), 1u);
    EXPECT_FALSE(std::filesystem::exists(tmp + "old"));
    EXPECT_TRUE(std::filesystem::exists(tmp + "young"));
    EXPECT_TRUE(std::filesystem::exists(tmp + "olddir"));
    EXPECT_TRUE(std::filesystem::is_symlink(tmp + "oldlink"));
    EXPECT_TRUE(std::filesystem::exists(root_ + "/target"));
    EXPECT_TRUE(std::filesystem::exists(root_ + "/.retry/old"));
    EXPECT_EQ(removeStaleTemporaries(root_ + "/missing", now), 0u);
}

}  // namespace
}  // namespace mb::provider::test
