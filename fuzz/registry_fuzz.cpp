// SPDX-License-Identifier: MIT
// Arbitrary bytes as the per-user registry export file. Any file is read
// without a fault, for the key its first section names (or the root). What is
// read is then written as an export file of our own, every value as a hex list
// (or a string, or a dword, where it is one), spread over continuation lines,
// and read again: the same key with the same values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "pal/registry_internal.h"

namespace {

using reg::Key;
using reg::Value;

// The first "[HKEY_CURRENT_USER\...]" section's path, folded, as the lookup
// takes it; empty (the root) when there is none.
std::vector<std::u16string> firstSectionPath(const std::u16string& text) {
    const std::u16string head = u"[HKEY_CURRENT_USER\\";
    const size_t at = text.find(head);
    if (at == std::u16string::npos) {
        return {};
    }
    const size_t end = text.find_first_of(u"]\n", at);
    if (end == std::u16string::npos || text[end] != u']') {
        return {};
    }
    std::vector<std::u16string> path;
    std::u16string rest = text.substr(at + head.size(), end - at - head.size());
    for (;;) {
        const size_t slash = rest.find(u'\\');
        const std::u16string name = rest.substr(0, slash);
        if (name.empty()) {
            return {};
        }
        path.push_back(reg::Fold(name));
        if (slash == std::u16string::npos) {
            return path;
        }
        rest.erase(0, slash + 1);
    }
}

std::u16string quoted(const std::u16string& text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out.push_back(u'\\');
        }
        out.push_back(c);
    }
    return out + u"\"";
}

const char16_t kHex[] = u"0123456789abcdef";

// A string value that the quoted form can carry: UTF-16 units ending in one
// NUL, none before it, no line break.
bool writableAsString(const Value& value, std::u16string& text) {
    if (value.type != 1 || value.data.size() < 2 || value.data.size() % 2 != 0) {
        return false;
    }
    text.clear();
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        text.push_back(static_cast<char16_t>(value.data[i] | value.data[i + 1] << 8));
    }
    if (text.back() != 0) {
        return false;
    }
    text.pop_back();
    for (char16_t c : text) {
        if (c == 0 || c == u'\n' || c == u'\r') {
            return false;
        }
    }
    return true;
}

std::u16string dataText(const Value& value, bool split) {
    std::u16string text;
    if (writableAsString(value, text)) {
        return quoted(text);
    }
    if (value.type == 4 && value.data.size() == 4) {
        std::u16string out = u"dword:";
        for (int i = 3; i >= 0; --i) {
            out.push_back(kHex[value.data[i] >> 4]);
            out.push_back(kHex[value.data[i] & 15]);
        }
        return out;
    }
    std::u16string out = u"hex(";
    for (int shift = 28; shift >= 0; shift -= 4) {
        out.push_back(kHex[(value.type >> shift) & 15]);
    }
    out += u"):";
    for (size_t i = 0; i < value.data.size(); ++i) {
        out.push_back(kHex[value.data[i] >> 4]);
        out.push_back(kHex[value.data[i] & 15]);
        if (i + 1 < value.data.size()) {
            // Every eighth byte the list goes on over the next line.
            out += split && i % 8 == 7 ? u",\\\r\n  " : u",";
        }
    }
    return out;
}

// The key as an export file, in UTF-16LE after its mark: the one form that
// carries any name, lone surrogates included.
std::string exportFile(const Key& key, const std::vector<std::u16string>& path, bool split) {
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER";
    for (const std::u16string& name : path) {
        text += u"\\" + name;
    }
    text += u"]\r\n";
    for (const auto& [name, value] : key.values) {
        text += name.empty() ? u"@" : quoted(name);
        text += u"=" + dataText(value, split) + u"\r\n";
    }
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string text = reg::DecodeText(bytes);
    const std::vector<std::u16string> path = firstSectionPath(text);
    const Key key = reg::FindKey(text, path);
    reg::FindKey(text, {u"software"});
    if (!key.exists) {
        FUZZ_CHECK(key.values.empty());
        return 0;
    }
    for (const auto& [name, value] : key.values) {
        FUZZ_CHECK(reg::Fold(name) == name);
    }
    const bool split = size > 0 && (data[0] & 1) != 0;
    const Key again = reg::FindKey(reg::DecodeText(exportFile(key, path, split)), path);
    FUZZ_CHECK(again.exists);
    FUZZ_CHECK(again.values.size() == key.values.size());
    for (const auto& [name, value] : key.values) {
        const auto found = again.values.find(name);
        FUZZ_CHECK(found != again.values.end());
        FUZZ_CHECK(found->second.type == value.type);
        FUZZ_CHECK(found->second.data == value.data);
    }
    return 0;
}
