// profiles.ini as anyone may write it: every input either loads or fails
// with an error naming the file and a line, never crashing or leaking.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "profiles/profiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const mb::provider::ProfileLoad load = mb::provider::parseProfiles("fuzz.ini", text);
    if (load.result == S_OK) {
        if (!load.error.empty()) {
            std::abort();
        }
        for (const mb::provider::Profile& profile : load.profiles) {
            if (profile.name.empty() || profile.storePath.empty() ||
                (!profile.tlsFingerprint.empty() && profile.tlsFingerprint.size() != 95)) {
                std::abort();
            }
        }
    } else if (load.error.rfind("fuzz.ini:", 0) != 0 || !load.profiles.empty()) {
        std::abort();
    }
    return 0;
}
