// SPDX-License-Identifier: MIT
#include "provider/contacts/directory.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "provider/com/address_check.h"
#include "provider/contacts/contact_entry_id.h"
#include "provider/contacts/vcard.h"

namespace mb::provider {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kMaxFileSize = 64u << 20;

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

// UIDs compare without their urn:uuid: prefix and without case.
std::string uidKey(std::string_view uid) {
    uid = trimBlanks(uid);
    if (startsWithIgnoringCase(uid, "urn:uuid:")) {
        uid.remove_prefix(9);
    }
    return lowered(uid);
}

std::uint64_t checkOf(const AbEntry& e) {
    return entryCheck({e.displayName, e.addrType, e.address, e.list ? "list" : "user"});
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

struct Directory::Source {
    std::string path;
    VCard card;
};

std::string_view trimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool isEmailAddress(std::string_view text) {
    return checkAddress(text) == AddressProblem::None;
}

AbEntry AbEntry::oneOff(std::string displayName, std::string address) {
    AbEntry e;
    e.displayName = std::move(displayName);
    e.addrType = "SMTP";
    e.address = std::move(address);
    e.smtp = e.address;
    e.entryId = makeOneOffEntryId(e.displayName, e.addrType, e.address);
    return e;
}

Row AbEntry::properties() const {
    Row row;
    row.push_back(Property::ofBinary(PR_ENTRYID, entryId));
    row.push_back(Property::ofString8(PR_DISPLAY_NAME_A, displayName));
    row.push_back(Property::ofString8(PR_ADDRTYPE_A, addrType));
    if (!list) {
        row.push_back(Property::ofString8(PR_EMAIL_ADDRESS_A, address));
    }
    row.push_back(Property::ofLong(PR_OBJECT_TYPE, static_cast<LONG>(objectType())));
    row.push_back(
        Property::ofLong(PR_DISPLAY_TYPE, static_cast<LONG>(list ? DT_DISTLIST : DT_MAILUSER)));
    if (!smtp.empty()) {
        row.push_back(Property::ofString8(PR_SMTP_ADDRESS_A, smtp));
    }
    return row;
}

std::shared_ptr<const Directory> Directory::load(const std::vector<std::string>& paths) {
    auto directory = std::make_shared<Directory>();
    std::vector<Source> sources;
    for (const std::string& path : paths) {
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            std::vector<std::string> files;
            for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
                std::error_code fileEc;
                const fs::path& p = it->path();
                if (equalsIgnoringCase(p.extension().string(), ".vcf") &&
                    it->is_regular_file(fileEc)) {
                    files.push_back(p.string());
                }
            }
            if (ec) {
                directory->problems_.push_back(path + ": folder skipped: " + ec.message());
            }
            std::sort(files.begin(), files.end());
            for (const std::string& file : files) {
                directory->readFile(file, sources);
            }
        } else {
            directory->readFile(path, sources);
        }
    }
    directory->build(sources);
    return directory;
}

void Directory::readFile(const std::string& path, std::vector<Source>& sources) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        problems_.push_back(path + ": file skipped: " + ec.message());
        return;
    }
    if (size > kMaxFileSize) {
        problems_.push_back(path + ": file skipped: larger than 64 MiB");
        return;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!(in && text << in.rdbuf()) && size != 0) {
        problems_.push_back(path + ": file skipped: cannot be read");
        return;
    }
    VCardParse parse = parseVCards(text.str());
    for (const std::string& problem : parse.problems) {
        problems_.push_back(path + ": " + problem);
    }
    for (VCard& card : parse.cards) {
        sources.push_back({path, std::move(card)});
    }
}

void Directory::build(std::vector<Source>& sources) {
    std::map<std::string, std::size_t> byUid;
    std::vector<std::pair<std::size_t, const Source*>> groups;
    for (const Source& source : sources) {
        const VCard& card = source.card;
        AbEntry e;
        if (card.group) {
            e.list = true;
            e.addrType = "MAPIPDL";
            e.displayName = card.fn;
        } else if (!card.x500.empty()) {
            e.addrType = "EX";
            e.address = card.x500;
            e.smtp = card.emails.empty() ? std::string() : card.emails.front();
        } else if (!card.emails.empty()) {
            e.addrType = "SMTP";
            e.address = card.emails.front();
            e.smtp = e.address;
        } else {
            continue;  // a contact without any address is no recipient
        }
        e.otherEmails.assign(
            card.emails.begin() + (card.emails.empty() || e.addrType == "EX" ? 0 : 1),
            card.emails.end());
        if (e.displayName.empty()) {
            e.displayName = !card.fn.empty() ? card.fn : e.smtp.empty() ? e.address : e.smtp;
        }
        if (e.displayName.empty()) {
            problems_.push_back(source.path + ": line " + std::to_string(card.line) +
                                ": card skipped: a group without FN");
            continue;
        }
        // A name is one line wherever it shows, and a host may get it back
        // in place of an address (a user without an SMTP address), where a
        // line break would start another recipient.
        e.displayName = singleLine(e.displayName);
        for (const std::string& other : card.otherNames) {
            e.otherNames.push_back(singleLine(other));
        }
        const std::size_t index = entries_.size();
        if (!card.uid.empty() && !byUid.emplace(uidKey(card.uid), index).second) {
            problems_.push_back(source.path + ": line " + std::to_string(card.line) + ": UID " +
                                card.uid + " used before; members name the first");
        }
        if (e.list) {
            groups.emplace_back(index, &source);
        }
        entries_.push_back(std::move(e));
    }
    std::map<std::string, std::size_t> bySmtp;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (!entries_[i].list && !entries_[i].smtp.empty()) {
            bySmtp.emplace(lowered(entries_[i].smtp), i);
        }
    }
    for (auto& [index, source] : groups) {
        for (const std::string& member : source->card.members) {
            std::string_view ref = trimBlanks(member);
            if (startsWithIgnoringCase(ref, "mailto:")) {
                std::string address(ref.substr(7, ref.find('?') == std::string_view::npos
                                                      ? std::string_view::npos
                                                      : ref.find('?') - 7));
                if (const AddressProblem bad = checkAddress(address);
                    bad != AddressProblem::None) {
                    problems_.push_back(source->path + ": line " +
                                        std::to_string(source->card.line) + ": member mailto:" +
                                        printableAddress(address) + " left out: it " +
                                        describeAddressProblem(bad));
                    continue;
                }
                // Lowered keys: the first card with the address wins, and
                // one-off members are shared between lists.
                const auto [known, added] = bySmtp.emplace(lowered(address), entries_.size());
                if (added) {
                    AbEntry oneOff = AbEntry::oneOff(address, address);
                    oneOff.memberOnly = true;
                    entries_.push_back(std::move(oneOff));
                }
                entries_[index].members.push_back(known->second);
                continue;
            }
            const auto found = byUid.find(uidKey(ref));
            if (found == byUid.end()) {
                problems_.push_back(source->path + ": line " + std::to_string(source->card.line) +
                                    ": member " + std::string(ref) + " not found, left out");
                continue;
            }
            entries_[index].members.push_back(found->second);
        }
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (!entries_[i].memberOnly) {
            entries_[i].entryId =
                makeDirectoryEntryId(static_cast<std::uint32_t>(i), checkOf(entries_[i]));
        }
    }
}

bool Directory::find(const BYTE* entryId, ULONG size, AbEntry& entry) const {
    AbEntryIdParts parts;
    if (!parseAbEntryId(entryId, size, parts)) {
        return false;
    }
    if (parts.oneOff) {
        // An identifier is the caller's data: its address is checked like any other.
        if (parts.addrType == "SMTP" && !isEmailAddress(parts.address)) {
            return false;
        }
        entry = AbEntry::oneOff(parts.displayName, parts.address);
        entry.addrType = parts.addrType;
        entry.smtp = parts.addrType == "SMTP" ? parts.address : std::string();
        entry.entryId.assign(entryId, entryId + size);
        return true;
    }
    if (parts.index >= entries_.size() || entries_[parts.index].memberOnly ||
        checkOf(entries_[parts.index]) != parts.check) {
        return false;
    }
    entry = entries_[parts.index];
    return true;
}

std::vector<std::size_t> Directory::match(std::string_view text) const {
    text = trimBlanks(text);
    std::vector<std::size_t> found;
    if (text.empty()) {
        return found;
    }
    const auto collect = [&](auto&& predicate) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (!entries_[i].memberOnly && predicate(entries_[i])) {
                found.push_back(i);
            }
        }
        return !found.empty();
    };
    collect([&](const AbEntry& e) {
        return (!e.list && equalsIgnoringCase(e.address, text)) ||
               (!e.smtp.empty() && equalsIgnoringCase(e.smtp, text)) ||
               std::any_of(e.otherEmails.begin(), e.otherEmails.end(),
                           [&](const std::string& o) { return equalsIgnoringCase(o, text); });
    }) ||
        collect([&](const AbEntry& e) {
            return equalsIgnoringCase(e.displayName, text) ||
                   std::any_of(e.otherNames.begin(), e.otherNames.end(),
                               [&](const std::string& o) { return equalsIgnoringCase(o, text); });
        }) ||
        collect([&](const AbEntry& e) {
            return startsWithIgnoringCase(e.displayName, text) ||
                   std::any_of(e.otherNames.begin(), e.otherNames.end(), [&](const std::string& o) {
                       return startsWithIgnoringCase(o, text);
                   });
        });
    return found;
}

}  // namespace mb::provider
