// SPDX-License-Identifier: MIT
// The media type an attachment is sent as, from the shared MIME database.
#pragma once

#include <cstddef>
#include <string>

namespace mb::mime {

// "type/subtype" for a file of this name beginning with these bytes (its
// first few KiB; none for an empty file): GIO's guess from the name and the
// content, or application/octet-stream when it has none that a reader could
// use.
std::string mediaTypeOf(const std::string& fileName, const unsigned char* head, std::size_t size);

// How many leading bytes mediaTypeOf is worth given.
inline constexpr std::size_t kMediaTypeHead = 4096;

}  // namespace mb::mime
