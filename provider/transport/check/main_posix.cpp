// SPDX-License-Identifier: MIT
// mailbroker-check [PROFILE]: the account check of account_check.h for the
// named profile, or the default one; mailbroker-client check runs it.
#include <iostream>
#include <string>

#include "profiles/profiles.h"
#include "provider/transport/account_check.h"

int main(int argc, char** argv) {
    using namespace mb::provider;
    if (argc > 2) {
        std::cerr << "usage: mailbroker-check [PROFILE]\n";
        return 1;
    }
    const ProfileLoad load = loadProfiles();
    if (load.result != S_OK) {
        std::cout << load.error << '\n';
        return 6;
    }
    const Profile* profile = nullptr;
    if (argc == 2) {
        for (const Profile& candidate : load.profiles) {
            if (candidate.name == argv[1]) {
                profile = &candidate;
            }
        }
        if (profile == nullptr) {
            std::cout << "no profile named " << argv[1] << " in " << profilesPath() << '\n';
            return 1;
        }
    } else if ((profile = defaultProfile(load)) == nullptr) {
        std::cout << "no default profile in " << profilesPath() << "; name one\n";
        return 1;
    }
    return printCheck(*profile, checkAccount(*profile, std::chrono::seconds(profile->timeout)),
                      std::cout);
}
