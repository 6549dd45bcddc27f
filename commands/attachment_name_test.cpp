// SPDX-License-Identifier: MIT
#include "commands/attachment_name.h"

#include <gtest/gtest.h>

namespace {

std::basic_string<WCHAR> wide(const char* ascii) {
    std::basic_string<WCHAR> out;
    for (const char* c = ascii; *c != '\0'; ++c) {
        out.push_back(static_cast<WCHAR>(*c));
    }
    return out;
}

std::basic_string<WCHAR> nameOf(const char* path) {
    return attachmentFileName(wide(path).c_str());
}

TEST(AttachmentFileName, IsTheLastComponent) {
    EXPECT_EQ(nameOf("/home/ann/report.pdf"), wide("report.pdf"));
    EXPECT_EQ(nameOf("report.pdf"), wide("report.pdf"));
    EXPECT_EQ(nameOf("/home/ann/.profile"), wide(".profile"));
    EXPECT_EQ(nameOf("/home/ann/"), wide(""));
}

#ifndef _WIN32
// A POSIX file name may hold a '\': it is part of the name, not a separator.
TEST(AttachmentFileName, KeepsABackslashOnPosix) {
    EXPECT_EQ(nameOf("/tmp/back\\slash.txt"), wide("back\\slash.txt"));
    EXPECT_EQ(nameOf("back\\slash.txt"), wide("back\\slash.txt"));
    EXPECT_EQ(nameOf("/tmp/a\\b/c\\d.txt"), wide("c\\d.txt"));
}
#else
TEST(AttachmentFileName, SplitsAtEitherSeparatorOnWindows) {
    EXPECT_EQ(nameOf("C:\\Users\\ann\\report.pdf"), wide("report.pdf"));
    EXPECT_EQ(nameOf("C:/Users/ann/report.pdf"), wide("report.pdf"));
}
#endif

}  // namespace
