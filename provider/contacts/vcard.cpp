// SPDX-License-Identifier: MIT
#include "provider/contacts/vcard.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <utility>

#include "provider/com/address_check.h"
#include "provider/com/utf8.h"
#include "provider/contacts/charset.h"

namespace mb::provider {
namespace {

struct LogicalLine {
    std::string text;
    std::size_t number;  // of its first physical line
};

struct ContentLine {
    std::string name;  // upper case, group dropped
    std::vector<std::pair<std::string, std::vector<std::string>>> params;  // names upper case
    std::string value;
};

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && upper(a) == upper(b);
}

std::string_view trimWhitespace(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

bool nameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
}

constexpr std::size_t kNamedSkippedLines = 100;

struct PhysicalLine {
    std::string_view text;
    std::size_t number;  // from 1
};

// Exports end lines in LF, CRLF, a bare CR (old desktop systems) or CRCRLF
// (a CRLF file passed once more through a text-mode copy). Each of these is
// one line end, and a CR ends a line wherever it stands, so text after a CR
// inside what was meant as one line is read as a line of its own.
std::vector<PhysicalLine> splitLines(std::string_view text) {
    std::vector<PhysicalLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.push_back({text.substr(pos), lines.size() + 1});
            break;
        }
        lines.push_back({text.substr(pos, end - pos), lines.size() + 1});
        pos = end + 1;
        if (text[end] == '\r') {
            if (text.substr(pos, 2) == "\r\n") {
                pos += 2;
            } else if (text.substr(pos, 1) == "\n") {
                pos += 1;
            }
        }
    }
    return lines;
}

// RFC 6868: ^n newline, ^^ caret, ^' double quote.
std::string uncaret(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '^' && i + 1 < s.size()) {
            const char next = s[i + 1];
            if (next == 'n' || next == 'N') {
                out += '\n', ++i;
                continue;
            }
            if (next == '^' || next == '\'') {
                out += next == '^' ? '^' : '"', ++i;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::optional<ContentLine> parseLine(std::string_view s, std::string& problem) {
    ContentLine line;
    std::size_t i = 0;
    while (i < s.size() && nameChar(s[i])) {
        ++i;
    }
    if (i < s.size() && s[i] == '.' && i > 0) {  // a group prefix
        const std::size_t start = ++i;
        while (i < s.size() && nameChar(s[i])) {
            ++i;
        }
        line.name = upper(s.substr(start, i - start));
    } else {
        line.name = upper(s.substr(0, i));
    }
    if (line.name.empty()) {
        problem = "no property name";
        return std::nullopt;
    }
    while (i < s.size() && s[i] == ';') {
        const std::size_t start = ++i;
        while (i < s.size() && nameChar(s[i])) {
            ++i;
        }
        std::string name = upper(s.substr(start, i - start));
        if (name.empty()) {
            problem = "empty parameter name";
            return std::nullopt;
        }
        std::vector<std::string> values;
        if (i < s.size() && s[i] == '=') {
            do {
                ++i;
                if (i < s.size() && s[i] == '"') {
                    const std::size_t close = s.find('"', i + 1);
                    if (close == std::string_view::npos) {
                        problem = "unterminated quoted parameter";
                        return std::nullopt;
                    }
                    values.push_back(uncaret(s.substr(i + 1, close - i - 1)));
                    i = close + 1;
                } else {
                    const std::size_t vstart = i;
                    while (i < s.size() && s[i] != ';' && s[i] != ':' && s[i] != ',' &&
                           s[i] != '"') {
                        ++i;
                    }
                    values.push_back(uncaret(s.substr(vstart, i - vstart)));
                }
            } while (i < s.size() && s[i] == ',');
        } else {
            // 3.0 still meets bare type names: EMAIL;INTERNET;PREF:...
            values.push_back(std::move(name));
            name = "TYPE";
        }
        line.params.emplace_back(std::move(name), std::move(values));
    }
    if (i >= s.size() || s[i] != ':') {
        problem = "no ':' after the property name and parameters";
        return std::nullopt;
    }
    line.value = std::string(s.substr(i + 1));
    return line;
}

// Lower ranks first; 100 is the least preferred that 4.0 allows.
int preference(const ContentLine& line) {
    int rank = 101;
    for (const auto& [name, values] : line.params) {
        for (const auto& value : values) {
            if (name == "PREF") {
                int n = 0;
                for (char c : value) {
                    n = std::isdigit(static_cast<unsigned char>(c)) != 0
                            ? std::min(n * 10 + (c - '0'), 101)
                            : 101;
                }
                rank = std::min(rank, n < 1 ? 101 : n);
            } else if (name == "TYPE" && iequals(value, "PREF")) {
                rank = std::min(rank, 1);
            }
        }
    }
    return rank;
}

bool quotedPrintable(const ContentLine& line) {
    for (const auto& [name, values] : line.params) {
        for (const auto& value : values) {
            if ((name == "ENCODING" || name == "TYPE") && iequals(value, "QUOTED-PRINTABLE")) {
                return true;
            }
        }
    }
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Quoted-printable as older exporters write it: =XX is the byte, a '=' at
// the end is a soft break, anything else stands for itself.
std::string decodeQuotedPrintable(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '=' && i + 2 < value.size() && hexDigit(value[i + 1]) >= 0 &&
            hexDigit(value[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(value[i + 1]) * 16 + hexDigit(value[i + 2]));
            i += 2;
        } else if (value[i] == '=' && i + 1 == value.size()) {
            break;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string_view paramValue(const ContentLine& line, std::string_view param) {
    for (const auto& [name, values] : line.params) {
        if (name == param && !values.empty()) {
            return values.front();
        }
    }
    return {};
}

bool hasValueIn(const ContentLine& line, std::string_view param, std::string_view value) {
    for (const auto& [name, values] : line.params) {
        for (const auto& v : values) {
            if (name == param && iequals(v, value)) {
                return true;
            }
        }
    }
    return false;
}

bool base64(const ContentLine& line) {
    return hasValueIn(line, "ENCODING", "BASE64") || hasValueIn(line, "ENCODING", "B") ||
           hasValueIn(line, "TYPE", "BASE64");
}

bool base64Only(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '/' ||
               c == '=' || c == ' ' || c == '\t';
    });
}

bool cardBoundary(std::string_view s) {
    return iequals(s, "BEGIN:VCARD") || iequals(s, "END:VCARD");
}

// Joins physical lines from `at` into one logical line, moving `at` past
// them. How a value goes on over more lines depends on what the first
// physical line says about it: a quoted-printable value ending in '=' goes
// on with the next line whatever it starts with, and a 2.1 base64 value
// with the lines of base64 that follow it, which phones write without
// indenting. Looking only at the first line keeps this linear in the file.
LogicalLine nextLogical(const std::vector<PhysicalLine>& lines, std::size_t& at, bool version21) {
    LogicalLine logical{std::string(lines[at].text), lines[at].number};
    std::string ignored;
    const std::optional<ContentLine> head = parseLine(logical.text, ignored);
    const bool qp = head && quotedPrintable(*head);
    const bool b64 = version21 && head && base64(*head);
    for (++at; at < lines.size(); ++at) {
        const std::string_view next = lines[at].text;
        if (qp && !logical.text.empty() && logical.text.back() == '=' && !cardBoundary(next)) {
            logical.text.pop_back();
            logical.text.append(next);
        } else if (!next.empty() && (next[0] == ' ' || next[0] == '\t')) {
            logical.text.append(version21 ? next : next.substr(1));
        } else if (b64 && base64Only(next)) {
            logical.text.append(next);
        } else {
            break;
        }
    }
    return logical;
}

// N's components (family; given; additional; prefixes; suffixes), each a
// comma list in 3.0 and 4.0, split at the separators that are not escaped.
std::vector<std::vector<std::string>> structuredName(std::string_view value, bool commaLists) {
    std::vector<std::vector<std::string>> components(1, std::vector<std::string>(1));
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            components.back().back() += value.substr(i, 2);
            ++i;
        } else if (c == ';') {
            components.emplace_back(1);
        } else if (c == ',' && commaLists) {
            components.back().emplace_back();
        } else {
            components.back().back() += c;
        }
    }
    for (auto& items : components) {
        for (auto& item : items) {
            item = unescapeText(item);
        }
    }
    return components;
}

// "Prefix Given Additional Family Suffix", blanks only: a comma before a
// suffix would make the name split in two when typed into a recipient text.
std::string nameFromN(const std::vector<std::vector<std::string>>& n) {
    std::string out;
    for (const std::size_t component : {3u, 1u, 2u, 0u, 4u}) {
        if (component >= n.size()) {
            continue;
        }
        for (const std::string& item : n[component]) {
            const std::string_view word = trimWhitespace(item);
            if (!word.empty()) {
                out += out.empty() ? "" : " ";
                out += word;
            }
        }
    }
    return out;
}

class CardBuilder {
  public:
    CardBuilder(std::size_t line, std::vector<std::string>& notes, CharsetDecoder& charsets)
        : notes_(&notes), charsets_(&charsets) {
        card_.line = line;
    }

    bool version21() const { return card_.version == "2.1"; }

    // False with problem set when the line makes the card unreadable. A
    // value that cannot be used (an address that is not one, text in an
    // unknown character set) is left out with a note, and the rest of the
    // card stays.
    bool take(const ContentLine& line, std::size_t number, std::string& problem) {
        const std::string& n = line.name;
        if (n == "VERSION") {
            card_.version = line.value;
            if (card_.version != "2.1" && card_.version != "3.0" && card_.version != "4.0") {
                problem = "unsupported VERSION " + line.value.substr(0, 20);
                return false;
            }
        } else if (n == "UID") {
            card_.uid = line.value;
        } else if (n == "FN") {
            if (std::optional<std::string> text = decode(line, number)) {
                fns_.push_back({preference(line), fns_.size(), unescapeText(*text)});
            }
        } else if (n == "N") {
            if (std::optional<std::string> text = decode(line, number)) {
                nameFromN_ = nameFromN(structuredName(*text, !version21()));
            }
        } else if (n == "EMAIL") {
            std::optional<std::string> decoded = decode(line, number);
            std::string email = decoded ? unescapeText(*decoded) : std::string();
            if (const AddressProblem bad = checkAddress(email);
                !email.empty() && bad != AddressProblem::None) {
                note(number, "EMAIL " + printableAddress(email) + " left out: it " +
                                 describeAddressProblem(bad));
            } else if (!email.empty()) {
                emails_.push_back({preference(line), emails_.size(), std::move(email)});
            }
        } else if (n == "KIND" || n == "X-ADDRESSBOOKSERVER-KIND") {
            card_.group = iequals(line.value, "group");
        } else if (n == "MEMBER" || n == "X-ADDRESSBOOKSERVER-MEMBER") {
            card_.members.push_back(line.value);
        } else if (n == "X-MAILBROKER-X500") {
            std::string x500 = unescapeText(line.value);
            if (const AddressProblem bad = checkLineText(x500); bad != AddressProblem::None) {
                note(number, "X-MAILBROKER-X500 " + printableAddress(x500) + " left out: it " +
                                 describeAddressProblem(bad));
            } else {
                card_.x500 = std::move(x500);
            }
        }
        return true;
    }

    bool finish(VCard& out, std::string& problem) {
        if (card_.version.empty()) {
            problem = "no VERSION";
            return false;
        }
        std::sort(emails_.begin(), emails_.end());
        for (auto& e : emails_) {
            card_.emails.push_back(std::move(e.text));
        }
        // Only 4.0 ranks names; older cards show their first FN.
        if (card_.version == "4.0") {
            std::sort(fns_.begin(), fns_.end());
        }
        for (auto& f : fns_) {
            if (f.text.empty()) {
                continue;
            }
            if (card_.fn.empty()) {
                card_.fn = std::move(f.text);
            } else {
                card_.otherNames.push_back(std::move(f.text));
            }
        }
        if (card_.fn.empty()) {
            card_.fn = std::move(nameFromN_);
        }
        const auto utf8 = [](const std::vector<std::string>& texts) {
            return std::all_of(texts.begin(), texts.end(), isUtf8WithoutNul);
        };
        if (!isUtf8WithoutNul(card_.fn) || !isUtf8WithoutNul(card_.uid) ||
            !isUtf8WithoutNul(card_.x500) || !utf8(card_.emails) || !utf8(card_.members) ||
            !utf8(card_.otherNames)) {
            problem = "text that is not UTF-8";
            return false;
        }
        out = std::move(card_);
        return true;
    }

  private:
    struct Ranked {
        int rank;
        std::size_t order;
        std::string text;
        bool operator<(const Ranked& o) const {
            return rank != o.rank ? rank < o.rank : order < o.order;
        }
    };

    void note(std::size_t number, const std::string& what) {
        notes_->push_back("line " + std::to_string(number) + ": " + what);
    }

    // The value's bytes as UTF-8, quoted-printable undone; nothing (and a
    // note) when its CHARSET cannot be read.
    std::optional<std::string> decode(const ContentLine& line, std::size_t number) {
        std::string bytes = quotedPrintable(line) ? decodeQuotedPrintable(line.value) : line.value;
        const std::string_view charset = paramValue(line, "CHARSET");
        if (!charset.empty()) {
            std::optional<std::string> text = charsets_->toUtf8(bytes, charset);
            if (!text) {
                note(number,
                     line.name + " left out: not text in CHARSET " + printableAddress(charset));
            }
            return text;
        }
        if (version21() && !isUtf8WithoutNul(bytes) && bytes.find('\0') == std::string::npos) {
            // Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D have no Windows-1252
            // character; such text can only be Latin-1.
            std::optional<std::string> text = charsets_->toUtf8(bytes, "WINDOWS-1252");
            return text ? text : charsets_->toUtf8(bytes, "ISO-8859-1");
        }
        return bytes;
    }

    VCard card_;
    std::vector<Ranked> emails_;
    std::vector<Ranked> fns_;
    std::string nameFromN_;
    std::vector<std::string>* notes_;
    CharsetDecoder* charsets_;
};

}  // namespace

std::string unescapeText(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            out += (next == 'n' || next == 'N') ? '\n' : next;
        } else {
            out += value[i];
        }
    }
    return out;
}

VCardParse parseVCards(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    VCardParse result;
    CharsetDecoder charsets;
    std::optional<CardBuilder> card;
    bool broken = false;
    std::size_t begin = 0;
    auto fail = [&](std::size_t number, const std::string& what) {
        result.problems.push_back("line " + std::to_string(number) + ": card skipped: " + what);
    };
    std::size_t skippedLines = 0;
    const std::vector<PhysicalLine> lines = splitLines(text);
    for (std::size_t at = 0; at < lines.size();) {
        const LogicalLine logical = nextLogical(lines, at, card && card->version21());
        if (logical.text.empty()) {
            continue;
        }
        std::string problem;
        const std::optional<ContentLine> line = parseLine(logical.text, problem);
        const bool isBegin = line && line->name == "BEGIN" && iequals(line->value, "VCARD");
        const bool isEnd = line && line->name == "END" && iequals(line->value, "VCARD");
        if (!card) {
            if (isBegin) {
                card.emplace(logical.number, result.problems, charsets);
                broken = false;
                begin = logical.number;
            }
            continue;  // text between cards is not ours to judge
        }
        if (isBegin) {
            if (!broken) {
                fail(begin,
                     "BEGIN:VCARD at line " + std::to_string(logical.number) + " before END:VCARD");
            }
            card.emplace(logical.number, result.problems, charsets);
            broken = false;
            begin = logical.number;
            continue;
        }
        if (isEnd) {
            VCard done;
            if (!broken) {
                if (card->finish(done, problem)) {
                    result.cards.push_back(std::move(done));
                } else {
                    fail(begin, problem);
                }
            }
            card.reset();
            continue;
        }
        if (broken) {
            continue;
        }
        if (!line) {
            // One bad line (a bare "FN", a stray fragment) costs that line,
            // not the person on the card. A file of nothing but such lines
            // names the first ones and counts the rest, so that it cannot
            // flood the provider log.
            if (++skippedLines <= kNamedSkippedLines) {
                result.problems.push_back("line " + std::to_string(logical.number) +
                                          ": line skipped: " + problem + ": " +
                                          printableAddress(logical.text));
            }
        } else if (!card->take(*line, logical.number, problem)) {
            fail(logical.number, problem);
            broken = true;
        }
    }
    if (card && !broken) {
        fail(begin, "no END:VCARD");
    }
    if (skippedLines > kNamedSkippedLines) {
        result.problems.push_back(std::to_string(skippedLines - kNamedSkippedLines) +
                                  " more lines skipped");
    }
    return result;
}

}  // namespace mb::provider
