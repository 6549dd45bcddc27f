#include "provider/contacts/vcard.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <utility>

#include "provider/com/address_check.h"
#include "provider/com/utf8.h"

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

bool nameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
}

std::vector<LogicalLine> unfold(std::string_view text) {
    std::vector<LogicalLine> lines;
    std::size_t number = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view physical = text.substr(pos, end - pos);
        if (!physical.empty() && physical.back() == '\r') {
            physical.remove_suffix(1);
        }
        ++number;
        pos = end + 1;
        if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t') && !lines.empty()) {
            lines.back().text.append(physical.substr(1));
        } else {
            lines.push_back({std::string(physical), number});
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

class CardBuilder {
  public:
    CardBuilder(std::size_t line, std::vector<std::string>& notes) : notes_(&notes) {
        card_.line = line;
    }

    // False with problem set when the line makes the card unreadable. A
    // value that cannot be used (an address that is not one) is left out
    // with a note, and the rest of the card stays.
    bool take(const ContentLine& line, std::size_t number, std::string& problem) {
        const std::string& n = line.name;
        if (n == "VERSION") {
            card_.version = line.value;
            if (card_.version != "3.0" && card_.version != "4.0") {
                problem = "unsupported VERSION " + line.value.substr(0, 20);
                return false;
            }
        } else if (n == "UID") {
            card_.uid = line.value;
        } else if (n == "FN") {
            card_.fn = unescapeText(line.value);
        } else if (n == "EMAIL") {
            std::string email = unescapeText(
                quotedPrintable(line) ? decodeQuotedPrintable(line.value) : line.value);
            if (const AddressProblem bad = checkAddress(email);
                !email.empty() && bad != AddressProblem::None) {
                notes_->push_back("line " + std::to_string(number) + ": EMAIL " +
                                  printableAddress(email) + " left out: it " +
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
                notes_->push_back("line " + std::to_string(number) + ": X-MAILBROKER-X500 " +
                                  printableAddress(x500) + " left out: it " +
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
            card_.emails.push_back(std::move(e.address));
        }
        if (!isUtf8WithoutNul(card_.fn) || !isUtf8WithoutNul(card_.uid) || !isUtf8WithoutNul(card_.x500) ||
            !std::all_of(card_.emails.begin(), card_.emails.end(), isUtf8WithoutNul) ||
            !std::all_of(card_.members.begin(), card_.members.end(), isUtf8WithoutNul)) {
            problem = "text that is not UTF-8";
            return false;
        }
        out = std::move(card_);
        return true;
    }

  private:
    struct Email {
        int rank;
        std::size_t order;
        std::string address;
        bool operator<(const Email& o) const {
            return rank != o.rank ? rank < o.rank : order < o.order;
        }
    };
    VCard card_;
    std::vector<Email> emails_;
    std::vector<std::string>* notes_;
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
    std::optional<CardBuilder> card;
    bool broken = false;
    std::size_t begin = 0;
    auto fail = [&](std::size_t number, const std::string& what) {
        result.problems.push_back("line " + std::to_string(number) + ": card skipped: " + what);
    };
    for (const LogicalLine& logical : unfold(text)) {
        if (logical.text.empty()) {
            continue;
        }
        std::string problem;
        const std::optional<ContentLine> line = parseLine(logical.text, problem);
        const bool isBegin = line && line->name == "BEGIN" && iequals(line->value, "VCARD");
        const bool isEnd = line && line->name == "END" && iequals(line->value, "VCARD");
        if (!card) {
            if (isBegin) {
                card.emplace(logical.number, result.problems);
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
            card.emplace(logical.number, result.problems);
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
        if (!line || !card->take(*line, logical.number, problem)) {
            fail(logical.number, problem);
            broken = true;
        }
    }
    if (card && !broken) {
        fail(begin, "no END:VCARD");
    }
    return result;
}

}  // namespace mb::provider
