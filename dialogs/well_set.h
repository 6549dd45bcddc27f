// SPDX-License-Identifier: MIT
// The wells of Select Names (To, Cc, Bcc) as the user fills and empties them.
//
// The wells come from the request in its order and go back in that order;
// entries keep their identifiers, since the provider finds its entries by
// them. An entry is in a well at most once: adding it again (twice a double
// click, say) changes nothing.
#pragma once

#include <cstddef>
#include <vector>

#include "provider/ui/dialog_protocol.h"

namespace mb::dialogs {

// Whether a and b are the same recipient: the same identifier when both have
// one; two one-offs with the same address (ignoring ASCII case), or the same
// name when neither has an address.
bool sameRecipient(const Entry& a, const Entry& b);

class WellSet {
  public:
    explicit WellSet(std::vector<Well> wells) : wells_(std::move(wells)) {}

    std::size_t size() const { return wells_.size(); }
    const Well& well(std::size_t index) const { return wells_.at(index); }
    const std::vector<Well>& wells() const { return wells_; }

    // Adds entry at the end of the well unless it is already there; true when
    // it was added. An index past the wells adds nothing.
    bool add(std::size_t well, const Entry& entry);

    // Removes the well's entry at index; false when there is none.
    bool remove(std::size_t well, std::size_t index);

  private:
    std::vector<Well> wells_;
};

}  // namespace mb::dialogs
