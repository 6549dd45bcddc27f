// SPDX-License-Identifier: MIT
#include "dialogs/recipient_list.h"

#include <algorithm>

#include "dialogs/compose_i18n.h"
#include "provider/com/address_check.h"

namespace mb::dialogs {
namespace {

bool isSeparator(char c) { return c == ',' || c == ';' || c == '\n' || c == '\r'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && (isBlank(text.front()) || text.front() == '\n' || text.front() == '\r')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (prefix.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (lower(text[i]) != lower(prefix[i])) {
            return false;
        }
    }
    return true;
}

// Whether prefix starts the text or one of its words ("Ann" finds "Mary Ann").
bool matches(std::string_view text, std::string_view prefix) {
    for (std::size_t at = 0; at <= text.size(); ++at) {
        const bool wordStart = at == 0 || text[at - 1] == ' ' || text[at - 1] == '.' ||
                               text[at - 1] == '-' || text[at - 1] == '@';
        if (wordStart && startsWithNoCase(text.substr(at), prefix)) {
            return true;
        }
    }
    return false;
}

// Walks field calling onEntry(begin, end) for each entry between separators
// that stand outside quotes and angle brackets.
template <typename F>
void forEachEntry(std::string_view field, F onEntry) {
    bool quoted = false;
    int angle = 0;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (quoted) {
            if (c == '\\' && i + 1 < field.size()) {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            ++angle;
        } else if (c == '>' && angle > 0) {
            --angle;
        } else if (angle == 0 && isSeparator(c)) {
            onEntry(begin, i);
            begin = i + 1;
        }
    }
    onEntry(begin, field.size());
}

}  // namespace

std::vector<std::string> splitRecipients(std::string_view field) {
    std::vector<std::string> entries;
    forEachEntry(field, [&](std::size_t begin, std::size_t end) {
        const std::string_view entry = trim(field.substr(begin, end - begin));
        if (!entry.empty()) {
            entries.emplace_back(entry);
        }
    });
    return entries;
}

RecipientText parseRecipient(std::string_view entry) {
    RecipientText out;
    entry = trim(entry);
    out.text = std::string(entry);
    const std::size_t open = entry.rfind('<');
    const std::size_t close = entry.rfind('>');
    std::string_view name = entry;
    if (open != std::string_view::npos && close != std::string_view::npos && close > open &&
        trim(entry.substr(close + 1)).empty()) {
        out.address = std::string(trim(entry.substr(open + 1, close - open - 1)));
        name = trim(entry.substr(0, open));
    } else if (entry.find('@') != std::string_view::npos) {
        out.address = std::string(entry);
        name = {};
    }
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
        name = name.substr(1, name.size() - 2);
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (name[i] == '\\' && i + 1 < name.size()) {
                ++i;
            }
            out.name += name[i];
        }
    } else {
        out.name = std::string(name);
    }
    return out;
}

std::string formatRecipient(std::string_view name, std::string_view address) {
    if (address.empty()) {
        return std::string(name);
    }
    if (name.empty() || name == address) {
        return std::string(address);
    }
    bool needsQuotes = false;
    for (char c : name) {
        needsQuotes = needsQuotes || isSeparator(c) || c == '"' || c == '<' || c == '>';
    }
    if (!needsQuotes) {
        return std::string(name) + " <" + std::string(address) + ">";
    }
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\" <" + std::string(address) + ">";
}

std::vector<std::string> checkRecipients(const std::vector<std::string>& entries) {
    std::vector<std::string> problems;
    for (const std::string& entry : entries) {
        const RecipientText recipient = parseRecipient(entry);
        // Even inside quotes: the client joins values with ';' and the Broker
        // splits at it, quotes or not.
        if (entry.find(';') != std::string::npos) {
            problems.push_back(std::string(_("Recipient")) + " \"" + entry + "\": " +
                               _("a ';' cannot be sent; remove it"));
            continue;
        }
        if (!recipient.hasAddress()) {
            if (provider::checkLineText(entry) != provider::AddressProblem::None) {
                problems.push_back(std::string(_("Recipient")) + " \"" +
                                   provider::printableAddress(entry) + "\": " +
                                   _("holds a control character or is not UTF-8"));
            }
            continue;  // a name for the address book to resolve
        }
        const provider::AddressProblem problem = provider::checkAddress(recipient.address);
        if (problem != provider::AddressProblem::None) {
            problems.push_back(std::string(_("Recipient")) + " \"" +
                               provider::printableAddress(recipient.address) + "\" " +
                               _("is not a valid address:") + " " +
                               provider::describeAddressProblem(problem));
        } else if (provider::checkLineText(recipient.name) != provider::AddressProblem::None) {
            problems.push_back(std::string(_("Recipient")) + " \"" +
                               provider::printableAddress(entry) + "\": " +
                               _("the name holds a control character or is not UTF-8"));
        }
    }
    return problems;
}

std::string clientRecipient(const RecipientText& recipient) {
    if (!recipient.hasAddress()) {
        return recipient.text;
    }
    bool plainName = true;
    for (char c : recipient.name) {
        plainName = plainName && !isSeparator(c) && c != '"' && c != '<' && c != '>';
    }
    if (recipient.name.empty() || !plainName) {
        return recipient.address;
    }
    return recipient.name + " <" + recipient.address + ">";
}

WordSpan entryAt(std::string_view field, std::size_t cursorByte) {
    if (cursorByte > field.size()) {
        cursorByte = field.size();
    }
    WordSpan span{cursorByte, cursorByte};
    forEachEntry(field, [&](std::size_t begin, std::size_t end) {
        if (cursorByte < begin || cursorByte > end) {
            return;
        }
        while (begin < end && (isBlank(field[begin]) || field[begin] == '\n')) {
            ++begin;
        }
        while (end > begin && isBlank(field[end - 1])) {
            --end;
        }
        span = {begin, std::max(end, begin)};
    });
    return span;
}

bool entryMatches(const Entry& entry, std::string_view prefix) {
    prefix = trim(prefix);
    return !prefix.empty() && (matches(entry.name, prefix) || matches(entry.address, prefix));
}

std::vector<const Entry*> completions(const std::vector<Entry>& book, std::string_view prefix,
                                      std::size_t limit) {
    std::vector<const Entry*> found;
    prefix = trim(prefix);
    if (prefix.empty()) {
        return found;
    }
    for (const Entry& entry : book) {
        if (found.size() >= limit) {
            break;
        }
        if (entryMatches(entry, prefix)) {
            found.push_back(&entry);
        }
    }
    return found;
}

}  // namespace mb::dialogs
