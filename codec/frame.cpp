// SPDX-License-Identifier: MIT
#include "codec/frame.h"

namespace codec {

const char* describeFrameError(FrameError error) {
    switch (error) {
        case FrameError::None:
            return "valid frame header";
        case FrameError::Truncated:
            return "frame header is shorter than 20 bytes";
        case FrameError::BadMagic:
            return "frame header has the wrong magic number";
        case FrameError::BadVersion:
            return "frame header has an unknown version";
        case FrameError::LengthOverLimit:
            return "frame header announces a payload over the length limit";
    }
    return "unknown frame header error";
}

FrameWord encodeFrameWord(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

uint32_t decodeFrameWord(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

FrameWords frameWords(const FrameHeader& header) {
    return {header.magic, header.version, header.processId, header.messageId, header.length};
}

FrameHeader frameHeaderFromWords(const FrameWords& words) {
    FrameHeader header;
    header.magic = words[0];
    header.version = words[1];
    header.processId = words[2];
    header.messageId = words[3];
    header.length = words[4];
    return header;
}

FrameBytes encodeFrameHeader(const FrameHeader& header) {
    FrameBytes bytes{};
    const FrameWords words = frameWords(header);
    for (size_t i = 0; i < kFrameWordCount; ++i) {
        const FrameWord word = encodeFrameWord(words[i]);
        for (size_t b = 0; b < kFrameWordBytes; ++b) {
            bytes[i * kFrameWordBytes + b] = word[b];
        }
    }
    return bytes;
}

FrameError validateFrameHeader(const FrameHeader& header) {
    if (header.magic != kFrameMagic) {
        return FrameError::BadMagic;
    }
    if (header.version != kFrameVersion) {
        return FrameError::BadVersion;
    }
    if (header.length > kFrameMaxLength) {
        return FrameError::LengthOverLimit;
    }
    return FrameError::None;
}

FrameDecodeResult decodeFrameWords(const FrameWords& words) {
    FrameDecodeResult result;
    result.header = frameHeaderFromWords(words);
    result.error = validateFrameHeader(result.header);
    return result;
}

FrameDecodeResult decodeFrameHeader(const uint8_t* bytes, size_t size) {
    FrameWords words{};
    // Whole words only: a word cut short stays zero rather than half-read.
    const size_t whole = (bytes == nullptr ? 0 : size) / kFrameWordBytes;
    for (size_t i = 0; i < kFrameWordCount && i < whole; ++i) {
        words[i] = decodeFrameWord(bytes + i * kFrameWordBytes);
    }
    FrameDecodeResult result = decodeFrameWords(words);
    if (bytes == nullptr || size < kFrameHeaderBytes) {
        result.error = FrameError::Truncated;
    }
    return result;
}

}  // namespace codec
