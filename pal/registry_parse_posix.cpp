// SPDX-License-Identifier: MIT
// The text format of registry export files, read for one key at a time.
#include <string_view>

#include "pal/registry.h"
#include "pal/registry_internal.h"
#include "pal/utf_transcode.h"
#include "pal/wide_crt.h"
#include "pal/wide_crt_internal.h"

namespace reg {
namespace {

using View = std::u16string_view;

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r';
}

View Trim(View s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// ASCII-only, for the format's own keywords.
bool StartsWithNoCase(View s, View prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = s[i] >= u'A' && s[i] <= u'Z' ? static_cast<char16_t>(s[i] + 32) : s[i];
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

bool ParseHex(View s, size_t maxDigits, uint32_t& out) {
    if (s.empty() || s.size() > maxDigits) {
        return false;
    }
    out = 0;
    for (char16_t c : s) {
        int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                    : c >= u'a' && c <= u'f' ? c - u'a' + 10
                    : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                             : -1;
        if (digit < 0) {
            return false;
        }
        out = out << 4 | static_cast<uint32_t>(digit);
    }
    return true;
}

// What may follow a value: blanks, then nothing or a comment.
bool OnlyTrailer(View rest) {
    rest = Trim(rest);
    return rest.empty() || rest.front() == u';';
}

// A quoted text at the start of `s`, with the format's two escapes (\\ and \");
// any other backslash is kept as written. `rest` receives what follows it.
bool ParseQuoted(View s, std::u16string& text, View& rest) {
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] == u'"') {
            rest = s.substr(i + 1);
            return true;
        }
        if (s[i] == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) {
            ++i;
        }
        text.push_back(s[i]);
    }
    return false;
}

void PutLe16(std::vector<BYTE>& out, char16_t c) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
}

// "aa,bb,..." (a comma may end the list).
bool ParseHexList(View s, std::vector<BYTE>& out) {
    s = Trim(s.substr(0, s.find(u';')));
    while (!s.empty()) {
        size_t comma = s.find(u',');
        uint32_t byte = 0;
        if (!ParseHex(Trim(s.substr(0, comma)), 2, byte)) {
            return false;
        }
        out.push_back(static_cast<BYTE>(byte));
        s = comma == View::npos ? View() : Trim(s.substr(comma + 1));
    }
    return true;
}

bool ParseData(View s, Value& value) {
    if (!s.empty() && s.front() == u'"') {
        std::u16string text;
        View rest;
        if (!ParseQuoted(s, text, rest) || !OnlyTrailer(rest)) {
            return false;
        }
        value.type = REG_SZ;
        for (char16_t c : text) {
            PutLe16(value.data, c);
        }
        PutLe16(value.data, 0);
        return true;
    }
    if (StartsWithNoCase(s, u"dword:")) {
        View digits = s.substr(6);
        size_t end = digits.find_first_of(u" \t\r;");
        uint32_t number = 0;
        if (!ParseHex(digits.substr(0, end), 8, number) ||
            (end != View::npos && !OnlyTrailer(digits.substr(end)))) {
            return false;
        }
        value.type = REG_DWORD;
        for (int shift = 0; shift < 32; shift += 8) {
            value.data.push_back(static_cast<BYTE>(number >> shift));
        }
        return true;
    }
    if (StartsWithNoCase(s, u"hex")) {
        View rest = s.substr(3);
        value.type = REG_BINARY;
        if (!rest.empty() && rest.front() == u'(') {
            size_t close = rest.find(u')');
            if (close == View::npos || !ParseHex(rest.substr(1, close - 1), 8, value.type)) {
                return false;
            }
            rest = rest.substr(close + 1);
        }
        return !rest.empty() && rest.front() == u':' && ParseHexList(rest.substr(1), value.data);
    }
    return false;
}

// `"name"=data`, `@=data`, or `"name"=-` to remove a value.
bool ParseValueLine(View line, Key& key) {
    std::u16string name;
    View rest;
    if (line.front() == u'@') {
        rest = line.substr(1);
    } else if (line.front() != u'"' || !ParseQuoted(line, name, rest)) {
        return false;
    }
    rest = Trim(rest);
    if (rest.empty() || rest.front() != u'=') {
        return false;
    }
    rest = Trim(rest.substr(1));
    std::u16string folded = Fold(std::move(name));
    if (!rest.empty() && rest.front() == u'-' && OnlyTrailer(rest.substr(1))) {
        key.values.erase(folded);
        return true;
    }
    Value value;
    if (!ParseData(rest, value)) {
        return false;
    }
    key.values[folded] = std::move(value);
    return true;
}

// A section header: true when it names the key sought, whose values follow.
// It also records that the key exists when it names one below it, and forgets
// what came before when a "[-...]" section removes the key or one above it.
bool ParseSection(View line, const std::vector<std::u16string>& path, Key& key) {
    if (line.size() < 2 || line.back() != u']') {
        return false;
    }
    View inner = line.substr(1, line.size() - 2);
    bool removal = !inner.empty() && inner.front() == u'-';
    if (removal) {
        inner.remove_prefix(1);
    }
    std::vector<std::u16string> names;
    for (;;) {
        size_t slash = inner.find(u'\\');
        View name = inner.substr(0, slash);
        if (name.empty()) {
            return false;
        }
        names.push_back(Fold(std::u16string(name)));
        if (slash == View::npos) {
            break;
        }
        inner.remove_prefix(slash + 1);
    }
    if (names.front() != u"hkey_current_user") {
        return false;
    }
    size_t depth = names.size() - 1;
    size_t common = 0;
    while (common < depth && common < path.size() && names[common + 1] == path[common]) {
        ++common;
    }
    if (removal) {
        if (common == depth && depth <= path.size()) {
            key = Key();
        }
        return false;
    }
    if (common == path.size()) {
        key.exists = true;
    }
    return common == path.size() && depth == path.size();
}

bool NextLine(const std::u16string& text, size_t& pos, View& line) {
    if (pos >= text.size()) {
        return false;
    }
    size_t end = text.find(u'\n', pos);
    if (end == std::u16string::npos) {
        end = text.size();
    }
    line = View(text).substr(pos, end - pos);
    pos = end + 1;
    return true;
}

}  // namespace

std::u16string Fold(std::u16string name) {
    for (char16_t& c : name) {
        c = wcrt::FoldCase(c);
    }
    return name;
}

std::u16string DecodeText(const std::string& bytes) {
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    std::u16string text;
    if (bytes.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        text.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(b[i] | b[i + 1] << 8));
        }
        return text;
    }
    size_t skip = bytes.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF ? 3 : 0;
    size_t units = 0;
    utf::ToUtf16(b + skip, bytes.size() - skip, nullptr, 0, false, &units);
    text.resize(units);
    utf::ToUtf16(b + skip, bytes.size() - skip, text.data(), units, false, &units);
    return text;
}

Key FindKey(const std::u16string& text, const std::vector<std::u16string>& path) {
    Key key;
    size_t pos = 0;
    View line;
    while (NextLine(text, pos, line) && Trim(line).empty()) {
    }
    View header = Trim(line);
    if (header != u"Windows Registry Editor Version 5.00" && header != u"REGEDIT4") {
        return key;
    }
    bool inKey = false;
    std::u16string logical;
    while (NextLine(text, pos, line)) {
        View trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == u';') {
            continue;
        }
        if (trimmed.front() == u'[') {
            inKey = ParseSection(trimmed, path, key);
            continue;
        }
        // A hex list goes on over the lines below while a line ends with "\".
        logical.assign(trimmed);
        while (logical.size() >= 2 && logical.back() == u'\\' &&
               (logical[logical.size() - 2] == u',' || logical[logical.size() - 2] == u':') &&
               NextLine(text, pos, line)) {
            logical.pop_back();
            logical.append(Trim(line));
        }
        if (inKey) {
            ParseValueLine(logical, key);  // a line that does not parse is left out
        }
    }
    return key;
}

}  // namespace reg
