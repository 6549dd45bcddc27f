// SPDX-License-Identifier: MIT
// Reading UTF-8 strictly: what every part of the provider that checks text
// taken from outside (cards, scripts, addresses) agrees counts as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mb::provider {

// One code point from s at i (advancing i past it); false for bytes that are
// not UTF-8: overlong forms, surrogates and values past U+10FFFF included.
bool nextCodePoint(std::string_view s, std::size_t& i, std::uint32_t& cp);

// Whether s is UTF-8 throughout and holds no NUL.
bool isUtf8WithoutNul(std::string_view s);

}  // namespace mb::provider
