// SPDX-License-Identifier: MIT
// Internal to the POSIX layer: reading one key out of a registry export file.
// Not included by mailbroker code, which sees only pal/win32.h.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pal/types.h"

namespace reg {

struct Value {
    DWORD type = 0;
    std::vector<BYTE> data;
};

// A key as the file describes it; values by folded name ("" is the default).
struct Key {
    bool exists = false;
    std::map<std::u16string, Value> values;
};

// Names compare case-insensitively: every lookup goes through the folded form.
std::u16string Fold(std::u16string name);

// A registry export file's text: UTF-16LE after its byte order mark, otherwise
// UTF-8 with or without one (ill-formed bytes become U+FFFD).
std::u16string DecodeText(const std::string& bytes);

// The key below HKEY_CURRENT_USER at `path` (folded components, no empty ones)
// as the text describes it. A key exists when a section names it or a key
// below it. Lines that do not parse are skipped; text without the export
// header describes nothing.
Key FindKey(const std::u16string& text, const std::vector<std::u16string>& path);

}  // namespace reg
