// SPDX-License-Identifier: MIT
#include "provider/mime/media_type.h"

#include <gtest/gtest.h>

#include <string>

namespace mb::mime {
namespace {

std::string typeOf(const std::string& name, const std::string& head) {
    return mediaTypeOf(name, reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

TEST(MediaType, FromTheNameAndTheFirstBytes) {
    EXPECT_EQ(typeOf("report.pdf", "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n"), "application/pdf");
    EXPECT_EQ(typeOf("picture.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16)), "image/png");
    EXPECT_EQ(typeOf("notes.txt", "plain words\n"), "text/plain");
    EXPECT_EQ(typeOf("page.html", "<!DOCTYPE html><html></html>"), "text/html");
    // No name a reader could use: the content decides.
    EXPECT_EQ(typeOf("", "%PDF-1.4\n"), "application/pdf");
    EXPECT_EQ(typeOf("empty.pdf", ""), "application/pdf");
}

TEST(MediaType, UnknownDataIsOctetStream) {
    EXPECT_EQ(typeOf("blob.zq9", std::string("\x01\x02\x03\xFF\x00\x7F", 6)),
              "application/octet-stream");
    EXPECT_EQ(typeOf("", ""), "application/octet-stream");
    // Binary data whose first byte a text type's magic matches.
    EXPECT_EQ(typeOf("part83.bin", std::string("%\x01\x00\xFE\x80\x7F data", 11)),
              "application/octet-stream");
    EXPECT_EQ(typeOf("", std::string("%\x01\x00\xFE\x80\x7F data", 11)),
              "application/octet-stream");
}

}  // namespace
}  // namespace mb::mime
