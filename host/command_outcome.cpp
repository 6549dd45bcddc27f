// SPDX-License-Identifier: MIT
#include "host/command_outcome.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "mapi/mapi_codes.h"

namespace {

std::string field(const ParamMap& values, const char* key, bool* present) {
    auto it = values.find(KsString(key));
    *present = it != values.end();
    if (!*present) {
        return {};
    }
    KsString copy(it->second);
    return copy.utf8View();
}

CommandOutcome failed(std::string message) {
    return {CommandOutcome::Kind::Failed, std::move(message)};
}

}  // namespace

std::string mapiCodeText(int32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(code));
    const char* name = mapiErrorName(static_cast<HRESULT>(code));
    return name != nullptr ? std::string(name) + " (" + hex + ")" : std::string(hex);
}

CommandOutcome judgeReply(const std::string& command, const ParamMap& values) {
    bool present = false;
    std::string error = field(values, "error", &present);
    if (!present) {
        return {CommandOutcome::Kind::Malformed, command + ": the reply carries no error field"};
    }
    if (error == "Not Supported") {
        return failed(command + " failed: the Broker does not support it (error=Not Supported)");
    }
    // The Broker writes the HRESULT as a signed decimal.
    errno = 0;
    char* end = nullptr;
    long long code = std::strtoll(error.c_str(), &end, 10);
    if (error.empty() || *end != '\0' || errno != 0 || code < INT32_MIN || code > INT32_MAX) {
        return {CommandOutcome::Kind::Malformed,
                command + ": the reply's error field is not a status code: " + error};
    }
    if (code < 0) {
        return failed(command + " failed: " + mapiCodeText(static_cast<int32_t>(code)));
    }
    if (command == "SendMail") {
        std::string result = field(values, "result", &present);
        if (result != "1") {
            return failed("SendMail failed: no message was composed (result=" +
                          (present ? result : std::string("absent")) + ", status " +
                          mapiCodeText(static_cast<int32_t>(code)) + ")");
        }
    }
    return {};
}
