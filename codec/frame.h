// SPDX-License-Identifier: MIT
// The header that opens every request and reply on a Broker pipe: five 32-bit
// words (magic, version, the sender's process id, a message id, the payload
// length), each sent little-endian as a pipe message of its own, then the
// payload as one more message. This is the one place that knows the words'
// values and byte order; the channel, the host and the benchmarks move the
// words over the pipe themselves and ask here what they mean.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace codec {

inline constexpr uint32_t kFrameMagic = 0xFFFE00FFu;
inline constexpr uint32_t kFrameVersion = 0x00010000u;
// The largest payload length a header may announce.
inline constexpr uint32_t kFrameMaxLength = 0x7FFFFFFFu;
// The largest request payload a Broker reads: a request carries paths and
// text, never file data. A larger announced length ends the connection unread.
inline constexpr uint32_t kRequestMaxLength = 64u << 20;

inline constexpr size_t kFrameWordCount = 5;
inline constexpr size_t kFrameWordBytes = 4;
inline constexpr size_t kFrameHeaderBytes = kFrameWordCount * kFrameWordBytes;

// The words in the order they travel.
struct FrameHeader {
    uint32_t magic = kFrameMagic;
    uint32_t version = kFrameVersion;
    uint32_t processId = 0;
    uint32_t messageId = 0;
    uint32_t length = 0;
};
// The header is exactly its five words, with nothing in between.
static_assert(sizeof(FrameHeader) == kFrameWordCount * sizeof(uint32_t));
static_assert(kFrameHeaderBytes == 20);

using FrameWord = std::array<uint8_t, kFrameWordBytes>;
using FrameWords = std::array<uint32_t, kFrameWordCount>;
using FrameBytes = std::array<uint8_t, kFrameHeaderBytes>;

// Why a header was refused; the checks run in this order and the first that
// fails is reported.
enum class FrameError {
    None,
    Truncated,        // fewer than kFrameHeaderBytes bytes
    BadMagic,         // the first word is not kFrameMagic
    BadVersion,       // the second word is not kFrameVersion
    LengthOverLimit,  // the length is above kFrameMaxLength
};

// A short English sentence for logs and error messages.
const char* describeFrameError(FrameError error);

// What a decode found: the fields as read (zero where the input ended first),
// and whether they make a valid header. Callers choose what a refusal means
// for their connection; nothing here throws.
struct FrameDecodeResult {
    FrameHeader header;
    FrameError error = FrameError::None;
    bool ok() const { return error == FrameError::None; }
};

// One word as its four little-endian bytes, and back.
FrameWord encodeFrameWord(uint32_t value);
uint32_t decodeFrameWord(const uint8_t* bytes);

// The header as its five words in travel order, and back (unchecked).
FrameWords frameWords(const FrameHeader& header);
FrameHeader frameHeaderFromWords(const FrameWords& words);

// The header as the 20 bytes its five words make on the wire.
FrameBytes encodeFrameHeader(const FrameHeader& header);

// Checks magic, version and length, in that order.
FrameError validateFrameHeader(const FrameHeader& header);

// Words already read one by one (as the pipe delivers them) into a checked header.
FrameDecodeResult decodeFrameWords(const FrameWords& words);
// The first kFrameHeaderBytes of `bytes` into a checked header; anything after
// them is left alone (it is the payload, or the next frame).
FrameDecodeResult decodeFrameHeader(const uint8_t* bytes, size_t size);

}  // namespace codec
