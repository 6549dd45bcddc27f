// SPDX-License-Identifier: MIT
#include "codec/frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using codec::decodeFrameHeader;
using codec::decodeFrameWord;
using codec::decodeFrameWords;
using codec::encodeFrameHeader;
using codec::encodeFrameWord;
using codec::FrameBytes;
using codec::FrameError;
using codec::FrameHeader;
using codec::FrameWords;

FrameHeader sample() {
    FrameHeader header;
    header.processId = 0x11223344u;
    header.messageId = 0x55667788u;
    header.length = 0x0A0B0C0Du;
    return header;
}

std::vector<uint8_t> bytesOf(const FrameBytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

}  // namespace

TEST(Frame, ConstantsAreTheWireValues) {
    // Written out here rather than taken from the header, so that a changed
    // constant breaks this test instead of silently changing the wire.
    EXPECT_EQ(codec::kFrameMagic, 0xFFFE00FFu);
    EXPECT_EQ(codec::kFrameVersion, 0x00010000u);
    EXPECT_EQ(codec::kFrameMaxLength, 0x7FFFFFFFu);
    EXPECT_EQ(codec::kFrameHeaderBytes, 20u);
}

TEST(Frame, DefaultHeaderCarriesMagicAndVersion) {
    FrameHeader header;
    EXPECT_EQ(header.magic, 0xFFFE00FFu);
    EXPECT_EQ(header.version, 0x00010000u);
    EXPECT_EQ(header.processId, 0u);
    EXPECT_EQ(header.messageId, 0u);
    EXPECT_EQ(header.length, 0u);
    EXPECT_EQ(codec::validateFrameHeader(header), FrameError::None);
}

TEST(Frame, WordIsLittleEndian) {
    EXPECT_EQ(encodeFrameWord(0x04030201u), (codec::FrameWord{1, 2, 3, 4}));
    EXPECT_EQ(encodeFrameWord(0xFFFE00FFu), (codec::FrameWord{0xFF, 0x00, 0xFE, 0xFF}));
    const uint8_t bytes[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(decodeFrameWord(bytes), 0x12345678u);
    // The top byte must not be taken as a sign.
    const uint8_t high[4] = {0x00, 0x00, 0x00, 0x80};
    EXPECT_EQ(decodeFrameWord(high), 0x80000000u);
}

TEST(Frame, EncodedHeaderHasEachFieldInItsPlaceAndOrder) {
    const std::vector<uint8_t> expected = {
        0xFF, 0x00, 0xFE, 0xFF,  // magic
        0x00, 0x00, 0x01, 0x00,  // version
        0x44, 0x33, 0x22, 0x11,  // process id
        0x88, 0x77, 0x66, 0x55,  // message id
        0x0D, 0x0C, 0x0B, 0x0A,  // length
    };
    EXPECT_EQ(bytesOf(encodeFrameHeader(sample())), expected);
}

TEST(Frame, WordsComeInTravelOrder) {
    EXPECT_EQ(codec::frameWords(sample()),
              (FrameWords{0xFFFE00FFu, 0x00010000u, 0x11223344u, 0x55667788u, 0x0A0B0C0Du}));
    FrameHeader back = codec::frameHeaderFromWords(
        FrameWords{0xFFFE00FFu, 0x00010000u, 0x11223344u, 0x55667788u, 0x0A0B0C0Du});
    EXPECT_EQ(back.processId, 0x11223344u);
    EXPECT_EQ(back.messageId, 0x55667788u);
    EXPECT_EQ(back.length, 0x0A0B0C0Du);
}

TEST(Frame, RoundTripKeepsEveryField) {
    for (uint32_t length : {0u, 1u, 46u, 0x7FFFFFFEu, 0x7FFFFFFFu}) {
        FrameHeader header = sample();
        header.length = length;
        const FrameBytes bytes = encodeFrameHeader(header);
        const codec::FrameDecodeResult result = decodeFrameHeader(bytes.data(), bytes.size());
        ASSERT_TRUE(result.ok()) << codec::describeFrameError(result.error);
        EXPECT_EQ(result.header.magic, header.magic);
        EXPECT_EQ(result.header.version, header.version);
        EXPECT_EQ(result.header.processId, header.processId);
        EXPECT_EQ(result.header.messageId, header.messageId);
        EXPECT_EQ(result.header.length, length);
    }
}

TEST(Frame, DecodingReadsOnlyTheFirstTwentyBytes) {
    const FrameBytes bytes = encodeFrameHeader(sample());
    std::vector<uint8_t> withPayload(bytes.begin(), bytes.end());
    withPayload.insert(withPayload.end(), {'A', 'b', 'c'});
    const auto result = decodeFrameHeader(withPayload.data(), withPayload.size());
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.header.length, 0x0A0B0C0Du);
}

TEST(Frame, ShortInputIsTruncated) {
    const FrameBytes bytes = encodeFrameHeader(sample());
    for (size_t size = 0; size < bytes.size(); ++size) {
        EXPECT_EQ(decodeFrameHeader(bytes.data(), size).error, FrameError::Truncated) << size;
    }
    EXPECT_EQ(decodeFrameHeader(nullptr, 20).error, FrameError::Truncated);
    // The whole words that did arrive are kept; the rest stays zero.
    const auto partial = decodeFrameHeader(bytes.data(), 11);
    EXPECT_EQ(partial.header.magic, 0xFFFE00FFu);
    EXPECT_EQ(partial.header.version, 0x00010000u);
    EXPECT_EQ(partial.header.processId, 0u);
}

TEST(Frame, WrongMagicIsRefused) {
    for (uint32_t magic : {0u, 0xFFFE00FEu, 0xFF00FEFFu, 0xDEADBEEFu}) {
        FrameHeader header = sample();
        header.magic = magic;
        const FrameBytes bytes = encodeFrameHeader(header);
        const auto result = decodeFrameHeader(bytes.data(), bytes.size());
        EXPECT_EQ(result.error, FrameError::BadMagic) << magic;
        EXPECT_EQ(result.header.magic, magic);
        EXPECT_FALSE(result.ok());
    }
}

TEST(Frame, MagicIsJudgedBeforeVersionAndLength) {
    FrameHeader header;
    header.magic = 1;
    header.version = 2;
    header.length = 0xFFFFFFFFu;
    EXPECT_EQ(codec::validateFrameHeader(header), FrameError::BadMagic);
    header.magic = codec::kFrameMagic;
    EXPECT_EQ(codec::validateFrameHeader(header), FrameError::BadVersion);
}

TEST(Frame, WrongVersionIsRefused) {
    for (uint32_t version : {0u, 0x00020000u, 0x00000100u, 0x00010001u}) {
        FrameHeader header = sample();
        header.version = version;
        const FrameBytes bytes = encodeFrameHeader(header);
        const auto result = decodeFrameHeader(bytes.data(), bytes.size());
        EXPECT_EQ(result.error, FrameError::BadVersion) << version;
        EXPECT_EQ(result.header.version, version);
    }
}

TEST(Frame, LengthOverTheLimitIsRefusedAndTheLimitItselfIsNot) {
    FrameHeader header = sample();
    header.length = 0x7FFFFFFFu;
    EXPECT_EQ(codec::validateFrameHeader(header), FrameError::None);
    for (uint32_t length : {0x80000000u, 0x80000001u, 0xFFFFFFFFu}) {
        header.length = length;
        const FrameBytes bytes = encodeFrameHeader(header);
        const auto result = decodeFrameHeader(bytes.data(), bytes.size());
        EXPECT_EQ(result.error, FrameError::LengthOverLimit) << length;
        // The announced length is still reported, for the caller's message.
        EXPECT_EQ(result.header.length, length);
    }
}

TEST(Frame, WordsDecodeLikeBytes) {
    const FrameWords words{0xFFFE00FFu, 0x00010000u, 7u, 8u, 9u};
    const auto result = decodeFrameWords(words);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.header.processId, 7u);
    EXPECT_EQ(result.header.messageId, 8u);
    EXPECT_EQ(result.header.length, 9u);
    EXPECT_EQ(decodeFrameWords(FrameWords{0xFFFE00FFu, 0x00020000u, 7u, 8u, 9u}).error,
              FrameError::BadVersion);
}

TEST(Frame, EveryErrorHasItsOwnDescription) {
    const FrameError all[] = {FrameError::None, FrameError::Truncated, FrameError::BadMagic,
                              FrameError::BadVersion, FrameError::LengthOverLimit};
    std::vector<std::string> seen;
    for (FrameError error : all) {
        std::string text = codec::describeFrameError(error);
        EXPECT_FALSE(text.empty());
        for (const std::string& other : seen) {
            EXPECT_NE(text, other);
        }
        seen.push_back(text);
    }
}
