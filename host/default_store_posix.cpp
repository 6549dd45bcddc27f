#include "host/default_store.h"

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
