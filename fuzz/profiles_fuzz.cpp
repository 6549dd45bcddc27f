// SPDX-License-Identifier: MIT
// Arbitrary bytes as profiles.ini, through the same entry point the file
// goes through once read. Every text loads or fails with an error naming the
// file and a line it has; what loads keeps the rules the provider relies on:
// names unique, usable as a folder name and short, at most one default,
// time-outs in range, every profile with a display name and a store.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "fuzz/fuzz_check.h"
#include "profiles/profiles.h"

using mb::provider::Profile;
using mb::provider::ProfileLoad;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const ProfileLoad load = mb::provider::parseProfiles("profiles.ini", text);
    FUZZ_CHECK(!load.builtIn);
    if (load.result != S_OK) {
        FUZZ_CHECK(load.result == MAPI_E_CORRUPT_DATA);
        FUZZ_CHECK(load.error.rfind("profiles.ini:", 0) == 0);
        size_t line = 0;
        if (std::sscanf(load.error.c_str(), "profiles.ini:%zu: ", &line) == 1) {
            size_t lines = 1;
            for (char c : text) {
                lines += c == '\n' ? 1 : 0;
            }
            FUZZ_CHECK(line >= 1 && line <= lines);
        }
        FUZZ_CHECK(load.profiles.empty());
        return 0;
    }
    FUZZ_CHECK(load.error.empty());
    std::set<std::string> names;
    int defaults = 0;
    for (const Profile& profile : load.profiles) {
        FUZZ_CHECK(!profile.name.empty() && profile.name.size() <= 40);
        FUZZ_CHECK(profile.name != "." && profile.name != "..");
        FUZZ_CHECK(profile.name.find('/') == std::string::npos);
        FUZZ_CHECK(names.insert(profile.name).second);
        FUZZ_CHECK(!profile.displayName.empty());
        FUZZ_CHECK(!profile.storePath.empty());
        FUZZ_CHECK(profile.timeout >= 1 && profile.timeout <= 3600);
        // A pin is kept as 32 hex bytes joined by ':'.
        FUZZ_CHECK(profile.tlsFingerprint.empty() || profile.tlsFingerprint.size() == 95);
        defaults += profile.isDefault ? 1 : 0;
    }
    FUZZ_CHECK(defaults <= 1);
    FUZZ_CHECK((mb::provider::defaultProfile(load) != nullptr) == (defaults == 1));
    return 0;
}
