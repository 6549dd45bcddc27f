// SPDX-License-Identifier: MIT
// The addresses a message is filed with: each recipient row as a mailbox,
// except that a distribution list of the address book becomes a group of its
// members under the name the user chose ("Team: pat@example.org,
// max@example.org;"), so that the filed message says who it went to and
// delivery finds every member in its headers.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "provider/com/restriction.h"
#include "provider/mime/render.h"
#include "provider/store/store.h"

namespace mb::provider {

class MessageAddresses {
  public:
    // Describes rows, the lists among them expanded through expand (called
    // once, only when a row is a list). Fails, with the provider log saying
    // why, when a list cannot be expanded: MAPI_E_UNKNOWN_ENTRYID when the
    // address book no longer holds it, MAPI_E_NO_SUPPORT without expand.
    HRESULT build(const std::vector<Row>& rows, const Profile& profile, const ExpandLists& expand);

    // For the renderer; valid while this object lives and is not rebuilt.
    const std::vector<MbMimeAddress>& addresses() const { return addresses_; }
    // How many addresses a delivery would send to (mailboxes with an address
    // and group members, repeats counted).
    std::size_t envelopeCount() const { return envelopeCount_; }

  private:
    const char* keep(std::string text);

    std::deque<std::string> texts_;  // a deque: what addresses_ points at never moves
    std::vector<MbMimeAddress> addresses_;
    std::size_t envelopeCount_ = 0;
};

}  // namespace mb::provider
