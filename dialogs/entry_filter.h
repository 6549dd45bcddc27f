// SPDX-License-Identifier: MIT
// Which address-book entries the Select Names search shows.
//
// People type names the way they remember them: "jose" should find "José",
// "MÜLLER" "Müller", "ann ex" "Ann Example". So both sides are folded the same
// way (compatibility decomposition, case folding, combining marks dropped),
// and every word of the query must occur in the entry's display name or its
// address. The entries' keys are folded once, not on every keystroke.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "provider/ui/dialog_protocol.h"

namespace mb::dialogs {

// text folded for matching; bytes that are not UTF-8 are replaced first.
std::string foldForSearch(std::string_view text);

// What an entry is matched against: its display name and address, folded.
std::string searchKey(const Entry& entry);

class EntryFilter {
  public:
    explicit EntryFilter(std::string_view query = {});

    // An empty (or blank) query lets everything through.
    bool empty() const { return words_.empty(); }
    bool matchesKey(std::string_view key) const;
    bool matches(const Entry& entry) const { return matchesKey(searchKey(entry)); }

  private:
    std::vector<std::string> words_;
};

}  // namespace mb::dialogs
