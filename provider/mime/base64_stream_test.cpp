// SPDX-License-Identifier: MIT
#include "provider/mime/base64_stream.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Where two texts part, so that a failure does not print megabytes.
std::string difference(const std::string& got, const std::string& expected) {
    if (got == expected) {
        return "none";
    }
    std::size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) {
        ++at;
    }
    return "at " + std::to_string(at) + " of " + std::to_string(got.size()) + "/" +
           std::to_string(expected.size()) + ": \"" + got.substr(at, 40) + "\" vs \"" +
           expected.substr(at, 40) + "\"";
}

class Base64StreamTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { g_mime_init(); }

    void SetUp() override {
        char name[] = "/tmp/mb_base64_test_XXXXXX";
        fd_ = ::mkstemp(name);
        ASSERT_GE(fd_, 0);
        ::unlink(name);
    }
    void TearDown() override { ::close(fd_); }

    // Appends n random bytes to the data file.
    void append(std::size_t n, unsigned seed) {
        std::mt19937 random(seed);
        std::vector<char> bytes(n);
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        ASSERT_EQ(::write(fd_, bytes.data(), n), static_cast<ssize_t>(n));
    }

    // The part as text: headers and content, or the content alone.
    static std::string text(GMimePart* part, GMimeFormatOptions* options = nullptr,
                            bool contentOnly = false) {
        if (part == nullptr) {
            return "no part, errno " + std::to_string(errno);
        }
        g_mime_part_set_filename(part, "d\xC3\xA4ta.bin");
        GMimeStream* out = g_mime_stream_mem_new();
        std::string written;
        const ssize_t n =
            contentOnly ? g_mime_object_write_content_to_stream(GMIME_OBJECT(part), options, out)
                        : g_mime_object_write_to_stream(GMIME_OBJECT(part), options, out);
        GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
        if (n >= 0) {
            written.assign(reinterpret_cast<char*>(bytes->data), bytes->len);
        } else {
            written = "write failed: " + std::to_string(n) + ", errno " + std::to_string(errno);
        }
        g_object_unref(out);
        g_object_unref(part);
        return written;
    }

    // The range in a part GMime encodes itself.
    GMimePart* gmimePart(std::int64_t offset, std::int64_t length) {
        GMimePart* part = g_mime_part_new_with_type("application", "octet-stream");
        g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
        GMimeStream* file = g_mime_stream_fs_new(::dup(fd_));
        GMimeStream* range =
            g_mime_stream_substream(file, offset, length < 0 ? -1 : offset + length);
        GMimeDataWrapper* wrapper =
            g_mime_data_wrapper_new_with_stream(range, GMIME_CONTENT_ENCODING_DEFAULT);
        g_mime_part_set_content(part, wrapper);
        g_object_unref(wrapper);
        g_object_unref(range);
        g_object_unref(file);
        return part;
    }

    std::string gmimeEncoded(std::int64_t offset, std::int64_t length) {
        return text(gmimePart(offset, length));
    }

    std::string ours(std::int64_t offset, std::int64_t length) {
        return text(mbBase64PartNew(fd_, offset, length));
    }

    int fd_ = -1;
};

TEST_F(Base64StreamTest, MatchesGMimeByteForByte) {
    // Around a line (57 bytes), a GMime buffer (4 KiB) and our block.
    const std::size_t sizes[] = {0, 1, 2, 3, 56, 57, 58, 4095, (1u << 20) + 1, 777777};
    unsigned seed = 1;
    for (std::size_t size : sizes) {
        ASSERT_EQ(::ftruncate(fd_, 0), 0);
        ASSERT_EQ(::lseek(fd_, 0, SEEK_SET), 0);
        append(size, seed++);
        const std::string expected = gmimeEncoded(0, static_cast<std::int64_t>(size));
        EXPECT_EQ(difference(ours(0, static_cast<std::int64_t>(size)), expected), "none") << size;
        EXPECT_EQ(difference(ours(0, -1), expected), "none") << size << " to the end";
        const std::string body = expected.substr(expected.find("\n\n") + 2);
        EXPECT_EQ(mbBase64EncodedLength(static_cast<std::int64_t>(size)),
                  static_cast<std::int64_t>(body.size()))
            << size << " bytes";
    }
}

TEST_F(Base64StreamTest, RangesOfOneSharedFile) {
    append(300000, 7);
    EXPECT_EQ(difference(ours(1000, 250001), gmimeEncoded(1000, 250001)), "none");
    EXPECT_EQ(difference(ours(299990, -1), gmimeEncoded(299990, -1)), "none");
    EXPECT_EQ(difference(ours(300000, -1), gmimeEncoded(300000, -1)), "none");
    EXPECT_EQ(difference(ours(5, 0), gmimeEncoded(5, 0)), "none");
}

TEST_F(Base64StreamTest, ReadsAgainAfterReset) {
    append(100000, 3);
    GMimeStream* stream = mbBase64StreamNew(fd_, 10, 99990);
    ASSERT_NE(stream, nullptr);
    std::string first;
    std::string second;
    char buf[1000];
    for (ssize_t n; (n = g_mime_stream_read(stream, buf, 100)) > 0;) {
        first.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_TRUE(g_mime_stream_eos(stream));
    EXPECT_EQ(g_mime_stream_tell(stream), static_cast<gint64>(first.size()));
    EXPECT_EQ(g_mime_stream_length(stream), static_cast<gint64>(first.size()));
    EXPECT_EQ(g_mime_stream_seek(stream, 1, GMIME_STREAM_SEEK_SET), -1);
    ASSERT_EQ(g_mime_stream_reset(stream), 0);
    for (ssize_t n; (n = g_mime_stream_read(stream, buf, sizeof buf)) > 0;) {
        second.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(first, second);
    EXPECT_EQ(g_mime_stream_write(stream, "x", 1), -1);
    g_object_unref(stream);
}

TEST_F(Base64StreamTest, RejectsRangesTheFileDoesNotHold) {
    append(100, 5);
    errno = 0;
    EXPECT_EQ(mbBase64StreamNew(fd_, -1, 10), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mbBase64StreamNew(fd_, 101, -1), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mbBase64StreamNew(fd_, 50, 51), nullptr);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(mbBase64StreamNew(fd_, 1, INT64_MAX), nullptr);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(mbBase64StreamNew(-1, 0, 10), nullptr);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(Base64StreamTest, FileCutShortFailsTheWrite) {
    append(500000, 9);
    GMimePart* part = mbBase64PartNew(fd_, 0, 500000);
    ASSERT_NE(part, nullptr);
    ASSERT_EQ(::ftruncate(fd_, 400000), 0);
    EXPECT_EQ(text(part), "write failed: -1, errno " + std::to_string(EIO));
}

TEST_F(Base64StreamTest, OtherFormatsAsGMimeWritesThem) {
    append(5000, 4);
    GMimeFormatOptions* dos = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(dos, GMIME_NEWLINE_FORMAT_DOS);
    const std::string expected = text(gmimePart(0, 5000), dos);
    EXPECT_NE(expected.find("\r\n"), std::string::npos);
    EXPECT_EQ(text(mbBase64PartNew(fd_, 0, 5000), dos), expected);
    g_mime_format_options_free(dos);
    EXPECT_EQ(text(mbBase64PartNew(fd_, 0, 5000), nullptr, true),
              text(gmimePart(0, 5000), nullptr, true));
}

TEST_F(Base64StreamTest, ReadErrorKeepsItsErrno) {
    append(100, 2);
    GMimeStream* stream = mbBase64StreamNew(fd_, 0, 100);
    ASSERT_NE(stream, nullptr);
    const int saved = ::dup(fd_);
    ::close(fd_);
    char buf[64];
    errno = 0;
    EXPECT_EQ(g_mime_stream_read(stream, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(g_mime_stream_eos(stream));
    ASSERT_EQ(::dup2(saved, fd_), fd_);
    ::close(saved);
    EXPECT_EQ(g_mime_stream_read(stream, buf, sizeof buf), 64);
    g_object_unref(stream);
}

}  // namespace
