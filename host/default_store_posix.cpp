// SPDX-License-Identifier: MIT
#include "host/default_store.h"

#include <ctime>

#include "host/outbox_report.h"
#include "host/store_watch.h"
#include "profiles/profiles.h"

DefaultStore defaultStore() {
    mb::provider::ProfileLoad load = mb::provider::loadProfiles();
    if (load.result != S_OK) {
        return {{}, {}, load.error};
    }
    const mb::provider::Profile* profile = mb::provider::defaultProfile(load);
    if (profile == nullptr) {
        return {{}, {}, "no default profile in " + mb::provider::profilesPath()};
    }
    return {profile->storePath, profile->transport, {}};
}

std::string filingReason(const DefaultStore& store, const StoredMessage& message) {
    // The reason comes from the store, where the spooler left it: the reply
    // itself says only that the message was taken.
    if (message.folder == "Outbox") {
        if (const auto record = retryRecordOf(store.path, message.baseName)) {
            return describeWaiting(*record, std::time(nullptr));
        }
    } else if (message.folder == "Undeliverable") {
        return refusalReasonOf(store.path, message.baseName);
    }
    return {};
}

std::string profilesProblemNote() {
    return profilesProblem();
}
