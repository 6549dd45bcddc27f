// SPDX-License-Identifier: MIT
#include "provider/mime/header_text.h"

#include <glib.h>

#include <algorithm>
#include <vector>

namespace mb::mime {
namespace {

constexpr std::size_t kLine = 78;           // where folding aims
constexpr std::size_t kWord = 75;           // the longest encoded word
constexpr std::size_t kWordFrame = 12;      // "=?utf-8?b?" and "?="
constexpr std::size_t kMinimumRoom = 40;    // less left on a line: start a new one

std::size_t charLength(unsigned char lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// What a Q-encoded word may hold as it is, in a phrase too.
bool qSafe(unsigned char c) {
    return g_ascii_isalnum(c) || c == '!' || c == '*' || c == '+' || c == '-' || c == '/';
}

std::size_t qCost(unsigned char c) {
    return qSafe(c) || c == ' ' ? 1 : 3;
}

bool atext(unsigned char c) {
    return g_ascii_isalnum(c) || (c != 0 && std::string_view("!#$%&'*+-/=?^_`{|}~").find(
                                                static_cast<char>(c)) != std::string_view::npos);
}

// Whether a blank-free word of free text must be encoded to reach a reader
// as it is.
bool needsEncoding(std::string_view word) {
    if (word.size() > kLine - 2 || word.find("=?") != std::string_view::npos) {
        return true;
    }
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x21 || byte > 0x7E) {
            return true;
        }
    }
    return false;
}

std::string base64(std::string_view bytes) {
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string out(encoded);
    g_free(encoded);
    return out;
}

std::string qEncode(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ') {
            out += '_';
        } else if (qSafe(byte)) {
            out += c;
        } else {
            out += '=';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

// The next encoded word of text from pos, at most maxLength characters, and
// whole characters only. A base64 word that is not the run's last encodes a
// multiple of 3 bytes, so it carries no padding; when no such cut exists, or
// Q is denser, the word is Q-encoded.
std::string nextWord(std::string_view text, std::size_t& pos, std::size_t maxLength) {
    const std::size_t payload = maxLength - kWordFrame;
    const std::size_t maxB = payload / 4 * 3;
    std::size_t bBytes = 0, taken = 0;
    while (pos + taken < text.size()) {
        const std::size_t length = charLength(static_cast<unsigned char>(text[pos + taken]));
        if (taken + length > maxB) {
            break;
        }
        taken += length;
        if (taken % 3 == 0 || pos + taken == text.size()) {
            bBytes = taken;
        }
    }
    std::size_t qBytes = 0, qLength = 0;
    while (pos + qBytes < text.size()) {
        const std::size_t length = charLength(static_cast<unsigned char>(text[pos + qBytes]));
        std::size_t cost = 0;
        for (std::size_t k = 0; k < length; ++k) {
            cost += qCost(static_cast<unsigned char>(text[pos + qBytes + k]));
        }
        if (qLength + cost > payload) {
            break;
        }
        qLength += cost;
        qBytes += length;
    }
    const std::size_t bLength = (bBytes + 2) / 3 * 4;
    // More text per character wins; a tie goes to Q, which a person can read.
    if (bBytes > 0 && bBytes * qLength > qBytes * bLength) {
        const std::string word = "=?utf-8?b?" + base64(text.substr(pos, bBytes)) + "?=";
        pos += bBytes;
        return word;
    }
    const std::string word = "=?utf-8?q?" + qEncode(text.substr(pos, qBytes)) + "?=";
    pos += qBytes;
    return word;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

bool printableAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            return false;
        }
    }
    return text.find("=?") == std::string_view::npos;
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

// Text a parameter value carries as it is, quoted where it must be. A '\\'
// goes as a quoted pair, which the readers we checked undo; a '"' does not:
// ripmime then saves nothing, so such a name is encoded.
bool plainParameter(std::string_view text) {
    return printableAscii(text) && text.find('"') == std::string_view::npos;
}

// RFC 2231's attribute-char, less a few that some readers mistake.
bool attributeChar(unsigned char c) {
    return g_ascii_isalnum(c) || std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) !=
                                     std::string_view::npos;
}

}  // namespace

HeaderField::HeaderField(std::string_view name) : out_(name), line_(name.size() + 1) {
    out_ += ':';
}

void HeaderField::token(std::string_view ascii) {
    if (anyToken_ && line_ + 1 + ascii.size() > kLine) {
        out_ += "\n ";  // the blank stays: unfolding gives it back
        line_ = 1;
    } else {
        out_ += ' ';
        ++line_;
    }
    out_ += ascii;
    line_ += ascii.size();
    anyToken_ = true;
}

void HeaderField::append(std::string_view ascii) {
    out_ += ascii;
    line_ += ascii.size();
}

std::string HeaderField::finish() && {
    return std::move(out_) + "\n";
}

void HeaderField::text(std::string_view utf8) {
    words(trimmed(utf8));
}

// A display name is one token, so that no fold falls on a blank that is part
// of it: GMime keeps such a fold in the name. Several encoded words go inside
// one quoted string: between bare encoded words in a name Python's parser
// keeps the blank that GMime, rightly, drops, while inside quotes both drop
// it and both decode the words.
void HeaderField::phrase(std::string_view utf8) {
    const std::string_view name = trimmed(utf8);
    if (name.empty()) {
        return;
    }
    if (printableAscii(name) && quoted(name).size() <= kLine - 2) {
        bool atoms = true;
        for (std::size_t i = 0; i < name.size(); ++i) {
            const auto c = static_cast<unsigned char>(name[i]);
            atoms = atoms && (atext(c) || (c == ' ' && name[i + 1] != ' '));
        }
        token(atoms ? std::string(name) : quoted(name));
        return;
    }
    std::vector<std::string> words;
    for (std::size_t pos = 0; pos < name.size();) {
        words.push_back(nextWord(name, pos, kWord - 1));  // room for a quote
    }
    if (words.size() == 1) {
        token(words[0]);
        return;
    }
    words.front().insert(0, "\"");
    words.back() += '"';
    for (const std::string& word : words) {
        token(word);
    }
}

// Plain words stay plain; a word that must be encoded is encoded together with
// its encoded neighbours and the blanks between them, since readers drop the
// blanks between adjacent encoded words. A word after more than one blank is
// encoded with the extra blanks, which readers would otherwise fold into one.
void HeaderField::words(std::string_view text) {
    struct Word {
        std::size_t gap;  // blanks before it
        std::string_view text;
        bool encode;
    };
    std::vector<Word> list;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', pos);
        const std::size_t end = std::min(text.find(' ', start), text.size());
        const std::string_view word = text.substr(start, end - start);
        const std::size_t gap = start - pos;
        list.push_back({gap, word,
                        needsEncoding(word) || (!list.empty() && gap > 1)});
        pos = end;
    }
    for (std::size_t i = 0; i < list.size();) {
        if (!list[i].encode) {
            token(list[i].text);
            ++i;
            continue;
        }
        std::string run(i > 0 ? list[i].gap - 1 : 0, ' ');
        run += list[i].text;
        std::size_t j = i + 1;
        for (; j < list.size() && list[j].encode; ++j) {
            run.append(list[j].gap, ' ');
            run += list[j].text;
        }
        encodedRun(run);
        i = j;
    }
}

void HeaderField::encodedRun(std::string_view utf8) {
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        // A field's first token cannot move to a line of its own.
        std::size_t room = kLine - 1;  // on a new line after the fold's blank
        if (line_ + 1 + kMinimumRoom <= kLine || !anyToken_) {
            room = line_ + 1 + kMinimumRoom <= kLine ? kLine - line_ - 1 : kMinimumRoom;
        }
        token(nextWord(utf8, pos, std::min(room, kWord)));
    }
}

namespace {

// `; name=value`, the value a token where it can be, else quoted.
std::string plainParameterText(std::string_view name, std::string_view value) {
    bool token = !value.empty();
    for (const char c : value) {
        token = token && c != ' ' && std::string_view("()<>@,;:\\\"/[]?=").find(c) ==
                                         std::string_view::npos;
    }
    return ";\n " + std::string(name) + "=" + (token ? std::string(value) : quoted(value));
}

}  // namespace

std::string parameter(std::string_view name, std::string_view utf8) {
    std::string plain = plainParameterText(name, utf8);
    if (plainParameter(utf8) && plain.size() <= kLine) {
        return plain;
    }
    // Segments of whole characters, so that a reader that decodes each on
    // its own still gets them right.
    static constexpr char kHex[] = "0123456789ABCDEF";
    constexpr std::size_t kSegment = 60;
    std::vector<std::string> segments{"utf-8''"};
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t length = charLength(static_cast<unsigned char>(utf8[pos]));
        std::string encoded;
        for (std::size_t k = 0; k < length && pos + k < utf8.size(); ++k) {
            const auto c = static_cast<unsigned char>(utf8[pos + k]);
            if (attributeChar(c)) {
                encoded += static_cast<char>(c);
            } else {
                encoded += '%';
                encoded += kHex[c >> 4];
                encoded += kHex[c & 15];
            }
        }
        if (segments.back().size() + encoded.size() > kSegment) {
            segments.emplace_back();
        }
        segments.back() += encoded;
        pos += length;
    }
    if (segments.size() == 1) {
        return ";\n " + std::string(name) + "*=" + segments[0];
    }
    std::string out;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        out += ";\n " + std::string(name) + "*" + std::to_string(i) + "*=" + segments[i];
    }
    return out;
}

std::string encodedWordParameter(std::string_view name, std::string_view utf8) {
    std::string plain = plainParameterText(name, utf8);
    if (plainParameter(utf8) && plain.size() <= kLine) {
        return plain;
    }
    // Readers that take the name this way (ripmime) decode it and then read
    // the result as header text again: an encoded word's opening would be
    // decoded twice, a '"' would end the name.
    if (utf8.find("=?") != std::string_view::npos || utf8.find('"') != std::string_view::npos) {
        return parameter(name, utf8);
    }
    std::string out = ";\n " + std::string(name) + "=\"";
    std::size_t pos = 0;
    bool first = true;
    while (pos < utf8.size()) {
        out += first ? "" : "\n ";
        out += nextWord(utf8, pos, kWord);
        first = false;
    }
    return out + '"';
}

}  // namespace mb::mime
