// SPDX-License-Identifier: MIT
// Arbitrary bytes as a frame header: every input is either accepted or refused
// with the first check it fails, never both and never a crash; an accepted
// header keeps to the limits and encodes back to exactly the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/frame.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const codec::FrameDecodeResult result = codec::decodeFrameHeader(data, size);
    const codec::FrameHeader& header = result.header;
    check(codec::describeFrameError(result.error) != nullptr);
    if (size < codec::kFrameHeaderBytes) {
        check(result.error == codec::FrameError::Truncated);
        check(!result.ok());
        return 0;
    }
    // Whatever the verdict, the fields are the bytes as read.
    const codec::FrameBytes again = codec::encodeFrameHeader(header);
    check(std::memcmp(again.data(), data, codec::kFrameHeaderBytes) == 0);
    // The verdict is the first failing check, and decoding the words agrees.
    codec::FrameError expected = codec::FrameError::None;
    if (header.magic != codec::kFrameMagic) {
        expected = codec::FrameError::BadMagic;
    } else if (header.version != codec::kFrameVersion) {
        expected = codec::FrameError::BadVersion;
    } else if (header.length > codec::kFrameMaxLength) {
        expected = codec::FrameError::LengthOverLimit;
    }
    check(result.error == expected);
    check(codec::decodeFrameWords(codec::frameWords(header)).error == expected);
    if (result.ok()) {
        check(header.magic == codec::kFrameMagic);
        check(header.version == codec::kFrameVersion);
        check(header.length <= codec::kFrameMaxLength);
    }
    return 0;
}
