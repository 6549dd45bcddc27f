// SPDX-License-Identifier: MIT
// Attachment data for GMime, already in base64.
//
// GMime's own encoder is a stream filter fed 4 KiB at a time, and on large
// attachments it costs more than reading and writing the data together; even
// content that is already encoded goes through a newline filter byte by byte.
// Here a stream reads its range of a file in large blocks with pread and
// encodes each block in one pass, producing exactly the text GMime writes:
// lines of 76 characters, each ending in "\n", the last one shorter. A part
// made for it writes its headers as GMime does and then the encoded blocks
// directly.
#pragma once

#include <gmime/gmime.h>

#include <cstddef>
#include <cstdint>

// Base64 of `length` bytes of fd from `offset` (length -1: up to the end of
// the file as it is now), or null with errno (EINVAL for a range that does
// not fit the file, EIO when the file is shorter than the data announced);
// reads fail with EIO should it shrink later. The stream does not own fd,
// which must stay open while the stream is read; many streams may share one
// descriptor.
GMimeStream* mbBase64StreamNew(int fd, std::int64_t offset, std::int64_t length);

// An application/octet-stream part, Content-Transfer-Encoding base64, whose
// content is that range of fd; null with errno as above.
GMimePart* mbBase64PartNew(int fd, std::int64_t offset, std::int64_t length);

// The encoded size of `length` bytes, line breaks included.
std::int64_t mbBase64EncodedLength(std::int64_t length);

// Encodes `length` bytes (a multiple of 57 unless it is the last block) into
// `out`, which holds at least mbBase64EncodedLength(length) characters.
// Returns the number written.
std::size_t mbBase64EncodeLines(const unsigned char* in, std::size_t length, char* out);
