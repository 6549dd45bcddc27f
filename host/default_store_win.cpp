// SPDX-License-Identifier: MIT
#include "host/default_store.h"

DefaultStore defaultStore() {
    return {};
}

std::string filingReason(const DefaultStore&, const StoredMessage&) {
    return {};
}

std::string profilesProblemNote() {
    return {};
}
