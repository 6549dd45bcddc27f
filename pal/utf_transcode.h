// Internal to the POSIX layer: UTF-8 <-> UTF-16 conversion behind the
// code-page functions. Not included by mailbroker code, which sees only
// pal/win32.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace utf {

enum class Status { kOk, kInvalid, kNoRoom };

// UTF-8 to UTF-16. Ill-formed input becomes one U+FFFD per maximal ill-formed
// subpart, or fails with kInvalid when `strict`. With `out` null only counts.
// `*produced` receives the number of units; nothing is written past them, but a
// conversion that fails may have written anywhere within `capacity`.
Status ToUtf16(const uint8_t* in, size_t length, char16_t* out, size_t capacity, bool strict,
               size_t* produced);

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD, or fails with kInvalid when
// `strict`. With `out` null only counts; otherwise as ToUtf16.
Status ToUtf8(const char16_t* in, size_t length, uint8_t* out, size_t capacity, bool strict,
              size_t* produced);

}  // namespace utf
