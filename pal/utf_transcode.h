// SPDX-License-Identifier: MIT
// Internal to the POSIX layer: UTF-8 <-> UTF-16 conversion behind the
// code-page functions. Not included by mailbroker code, which sees only
// pal/win32.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace utf {

enum class Status { kOk, kInvalid, kNoRoom };

// UTF-8 to UTF-16. Ill-formed input becomes one U+FFFD per maximal ill-formed
// subpart (except that a lead byte and a continuation byte outside its second
// byte's range count as one), or fails with kInvalid when `strict`. With `out` null only counts.
// `*produced` receives the number of units; nothing is written past them, but a
// conversion that fails may have written anywhere within `capacity`.
Status ToUtf16(const uint8_t* in, size_t length, char16_t* out, size_t capacity, bool strict,
               size_t* produced);

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD, or fails with kInvalid when
// `strict`. With `out` null only counts; otherwise as ToUtf16.
Status ToUtf8(const char16_t* in, size_t length, uint8_t* out, size_t capacity, bool strict,
              size_t* produced);

// Vector kernels (utf8_simd_posix.cpp, utf8_encode_simd_posix.cpp) for x86-64 processors with
// SSSE3, SSE4.1 and POPCNT, which Available() checks at run time. A build may set MB_UTF_SIMD to 0
// to leave only the scalar code.
#ifndef MB_UTF_SIMD
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MB_UTF_SIMD 1
#else
#define MB_UTF_SIMD 0
#endif
#endif

#if MB_UTF_SIMD
namespace simd {

bool Available();

// Whether [s, e), at least 32 bytes, is well-formed UTF-8 made of whole
// characters; if so, *units receives its UTF-16 length.
bool Measure(const uint8_t* s, const uint8_t* e, size_t* units);

// Decodes a prefix of [s, e), which Measure accepted, to `out`, which has room
// up to `outEnd` for the units of all of it; returns the end of the prefix, the
// start of a character, and advances `out` past its units. Bytes from e up to
// `limit` may be read, never used.
const uint8_t* Decode(const uint8_t* s, const uint8_t* e, const uint8_t* limit, char16_t*& out,
                      const char16_t* outEnd);

// Encodes UTF-16 from `s` into out[k...] for as long as neither a lone surrogate
// nor the last 24 units nor the last 32 bytes of `capacity` are near, advancing
// `s` and `k` (never to between the halves of a pair). Bytes past the new `k`
// may have been written, for the caller's next bytes to overwrite.
void Encode(const char16_t*& s, const char16_t* end, uint8_t* out, size_t capacity, size_t& k);

// Adds up, over a prefix of [s, end) that leaves fewer than 9 units, the units
// from U+0080, those from U+0800, the surrogates, and the high surrogates that a
// low one follows; advances `s` past the prefix.
void CountUtf8(const char16_t*& s, const char16_t* end, size_t& extra, size_t& surrogates,
               size_t& pairs);

}  // namespace simd
#endif

}  // namespace utf
