// SPDX-License-Identifier: MIT
// A mail user of the address book, as OpenEntry gives it: its properties.
#pragma once

#include "provider/contacts/directory.h"
#include "provider/addressbook/ab_prop.h"

namespace mb::provider {

class AbMailUser final : public AbProp<IMailUser, IID_IMailUser> {
  public:
    // Created with one reference.
    static AbMailUser* create(const AbEntry& entry) { return new AbMailUser(entry.properties()); }

  private:
    explicit AbMailUser(Row props) : AbProp(std::move(props)) {}
};

}  // namespace mb::provider
