// SPDX-License-Identifier: MIT
#include "host/broker_path.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

std::string defaultBrokerPath(const std::string& clientDir, const std::string& privateFromBin) {
    if (const char* path = std::getenv("MAILBROKER_BROKER"); path != nullptr && *path != '\0') {
        return path;
    }
    const std::string beside = clientDir + "/mailbroker";
#ifdef _WIN32
    // An install on Windows keeps the client beside mailbroker.exe.
    (void)privateFromBin;
    return beside;
#else
    std::error_code error;
    if (std::filesystem::is_regular_file(beside, error)) {
        return beside;
    }
    return clientDir + "/" + privateFromBin + "/mailbroker";
#endif
}
