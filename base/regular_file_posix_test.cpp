// SPDX-License-Identifier: MIT
#include "base/regular_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "base/temp_dir_test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(RegularFile, ReadsARegularFileWhole) {
    mb::test::TempDir dir("regular");
    const std::string path = (fs::path(dir.path()) / "a.ini").string();
    std::ofstream(path) << "[profile a]\n";
    std::string text = "kept:";
    EXPECT_EQ(mb::readRegularFile(path, 1024, text), 0);
    EXPECT_EQ(text, "kept:[profile a]\n");
}

TEST(RegularFile, AFifoIsRefusedWithoutWaitingForAWriter) {
    mb::test::TempDir dir("regular");
    const std::string fifo = (fs::path(dir.path()) / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string text;
    // Before the fix this open never returned: the test would hang here.
    EXPECT_EQ(mb::readRegularFile(fifo, 1024, text), mb::kNotRegularFile);
    mb::ScopedFd fd;
    EXPECT_EQ(mb::openRegularFile(fifo, fd), mb::kNotRegularFile);
    EXPECT_FALSE(fd);
    EXPECT_EQ(mb::regularFileFailureText(mb::kNotRegularFile),
              "not a regular file (a FIFO, a device or a socket)");
}

TEST(RegularFile, DevicesDirectoriesAndMissingFilesAreRefused) {
    mb::test::TempDir dir("regular");
    std::string text;
    EXPECT_EQ(mb::readRegularFile("/dev/zero", 1024, text), mb::kNotRegularFile);
    EXPECT_EQ(mb::readRegularFile(dir.path(), 1024, text), EISDIR);
    EXPECT_EQ(mb::readRegularFile((fs::path(dir.path()) / "none").string(), 1024, text), ENOENT);
    EXPECT_TRUE(text.empty());
}

TEST(RegularFile, AFileLargerThanTheLimitIsRefused) {
    mb::test::TempDir dir("regular");
    const std::string path = (fs::path(dir.path()) / "big").string();
    std::ofstream(path) << std::string(2000, 'x');
    std::string text;
    EXPECT_EQ(mb::readRegularFile(path, 1999, text), EFBIG);
    EXPECT_EQ(mb::readRegularFile(path, 2000, text), 0);
}

TEST(RegularFile, TheOpenedDescriptorReadsBlocking) {
    mb::test::TempDir dir("regular");
    const std::string path = (fs::path(dir.path()) / "f").string();
    std::ofstream(path) << "abc";
    mb::ScopedFd fd;
    ASSERT_EQ(mb::openRegularFile(path, fd), 0);
    char buffer[8];
    EXPECT_EQ(::read(fd.get(), buffer, sizeof buffer), 3);
}

}  // namespace
