// SPDX-License-Identifier: MIT
// The display name the shell gives a file, asserted as Windows shows it when
// the user has file name extensions shown.
#include <gtest/gtest.h>

#include "pal/file_test_support.h"
#include "pal/win32.h"

namespace {

using pal_test::ScratchDir;
using pal_test::Wide;
using pal_test::WString;

// The display name, or "<none>" when the call fails.
WString DisplayName(const WString& path) {
    SHFILEINFOW info{};
    info.szDisplayName[0] = u'?';
    if (SHGetFileInfoW(path.c_str(), 0xD0, &info, sizeof info, SHGFI_DISPLAYNAME) == 0) {
        return WLIT("<none>");
    }
    return info.szDisplayName;
}

TEST(Shell, DisplayNameIsTheLastComponentWithItsExtension) {
    ScratchDir dir;
    EXPECT_EQ(DisplayName(Wide(dir.write("report.final.txt", "x"))), WLIT("report.final.txt"));
    EXPECT_EQ(DisplayName(Wide(dir.write("no extension", "x"))), WLIT("no extension"));
    std::filesystem::create_directory(dir / "sub.d");
    EXPECT_EQ(DisplayName(Wide(dir / "sub.d")), WLIT("sub.d"));
    EXPECT_EQ(DisplayName(Wide(dir / "sub.d/..")), Wide(dir.path().filename()));
}

TEST(Shell, MissingPathsHaveNoDisplayName) {
    ScratchDir dir;
    EXPECT_EQ(DisplayName(Wide(dir / "absent.txt")), WLIT("<none>"));
    EXPECT_EQ(DisplayName(Wide(dir / "absent/a.txt")), WLIT("<none>"));
}

#ifndef _WIN32
// Only '/' separates a POSIX path.
TEST(Shell, BackslashBelongsToTheName) {
    ScratchDir dir;
    EXPECT_EQ(DisplayName(Wide(dir.write("a\\b.txt", "x"))), WLIT("a\\b.txt"));
    EXPECT_EQ(DisplayName(WString(u"/")), WLIT("/"));
}
#endif

}  // namespace
