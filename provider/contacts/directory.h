// SPDX-License-Identifier: MIT
// The address book's entries, read from the profile's vCard files and
// folders (each folder's *.vcf files, not its subfolders, in name order).
//
// A card with EMAIL becomes a mail user (address type SMTP, its preferred
// address); a card with X-MAILBROKER-X500 an Exchange-type user (address
// type EX, the X500 address, its preferred EMAIL as SMTP address); a group
// card a distribution list whose members are the cards named by UID and,
// for a mailto: member no card carries, a one-off SMTP member. Cards without
// any address are not recipients and are left out. Files that cannot be read
// and cards that cannot be parsed are skipped and noted in problems(); the
// rest still loads. Addresses that are not one-line e-mail addresses are
// left out where they are read (an EMAIL value, a mailto: member), with a
// problem noted.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "provider/com/restriction.h"

namespace mb::provider {

struct AbEntry {
    std::string displayName;  // UTF-8
    std::string addrType;     // "SMTP", "EX" or, for a list, "MAPIPDL"
    std::string address;      // SMTP or X500 address; empty for a list
    std::string smtp;         // the SMTP address, empty when unknown or a list
    std::vector<std::string> otherEmails;
    std::vector<std::string> otherNames;  // a card's other FN texts: they find it too
    bool list = false;
    bool memberOnly = false;           // a one-off list member: not offered or matched
    std::vector<std::size_t> members;  // indexes into entries(), lists only
    std::vector<BYTE> entryId;

    // A one-off SMTP recipient.
    static AbEntry oneOff(std::string displayName, std::string address);
    ULONG objectType() const { return list ? MAPI_DISTLIST : MAPI_MAILUSER; }
    // The properties MAPI callers read from an address entry.
    Row properties() const;
};

class Directory {
  public:
    static std::shared_ptr<const Directory> load(const std::vector<std::string>& paths);

    const std::vector<AbEntry>& entries() const { return entries_; }
    const std::vector<std::string>& problems() const { return problems_; }

    // The entry an identifier names (one-offs are made afresh), or false.
    bool find(const BYTE* entryId, ULONG size, AbEntry& entry) const;

    // The entries text matches at the first level that matches any: the
    // e-mail address, then the whole display name (or another of the
    // card's names), then a prefix of one; all
    // case-insensitive for ASCII letters, with the text's outer blanks
    // ignored.
    std::vector<std::size_t> match(std::string_view text) const;

  private:
    struct Source;
    void readFile(const std::string& path, std::vector<Source>& sources);
    void build(std::vector<Source>& sources);

    std::vector<AbEntry> entries_;
    std::vector<std::string> problems_;
};

// ASCII letters compare without case; other bytes as they are.
bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);

// The text without blanks at either end.
std::string_view trimBlanks(std::string_view text);

// Whether text is a bare e-mail address the provider may use: one line, an
// RFC 5322 addr-spec within SMTP's lengths (provider/com/address_check.h).
bool isEmailAddress(std::string_view text);

}  // namespace mb::provider
