// SPDX-License-Identifier: MIT
#include "dialogs/size_format.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "base/temp_dir_test_support.h"

namespace mb::dialogs {
namespace {

TEST(SizeFormat, BytesBelowAThousand) {
    EXPECT_EQ(formatSize(0), "0 bytes");
    EXPECT_EQ(formatSize(1), "1 byte");
    EXPECT_EQ(formatSize(2), "2 bytes");
    EXPECT_EQ(formatSize(999), "999 bytes");
}

TEST(SizeFormat, DecimalUnitsWithOneDecimal) {
    EXPECT_EQ(formatSize(1000), "1.0 kB");
    EXPECT_EQ(formatSize(12345), "12.3 kB");
    EXPECT_EQ(formatSize(4'000'000), "4.0 MB");
    EXPECT_EQ(formatSize(1'500'000'000), "1.5 GB");
    EXPECT_EQ(formatSize(18'446'744'073'709'551'615ull), "18.4 EB");
}

TEST(SizeFormat, NeverShowsAThousandOfAUnit) {
    EXPECT_EQ(formatSize(999'949), "999.9 kB");
    EXPECT_EQ(formatSize(999'999), "1.0 MB");
    EXPECT_EQ(formatSize(999'999'999), "1.0 GB");
}

TEST(SizeFormat, CurrentSizeIsZeroForMissingEmptyOrOddFiles) {
    test::TempDir dir("size");
    const std::string data = dir.path() + "/data.bin";
    std::ofstream(data) << std::string(12345, 'x');
    std::ofstream(dir.path() + "/empty.txt");
    EXPECT_EQ(currentFileSize(data), 12345u);
    EXPECT_EQ(formatSize(currentFileSize(data)), "12.3 kB");
    EXPECT_EQ(currentFileSize(dir.path() + "/empty.txt"), 0u);
    EXPECT_EQ(currentFileSize(dir.path() + "/missing.txt"), 0u);
    EXPECT_EQ(currentFileSize(dir.path()), 0u);  // a folder carries no data
    EXPECT_EQ(currentFileSize(""), 0u);
}

}  // namespace
}  // namespace mb::dialogs
