// SPDX-License-Identifier: MIT
#include "libmailbroker/result.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "host/attachment_check.h"
#include "host/command_outcome.h"
#include "mapi/mapi_codes.h"

const char* statusName(int32_t status) {
    // MAPI names success so; the generic table's first name for 0 is S_OK.
    if (status == 0) {
        return "SUCCESS_SUCCESS";
    }
    return mapiErrorName(static_cast<HRESULT>(status));
}

std::vector<std::string> splitAddresses(const std::string& text) {
    std::vector<std::string> list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            list.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return list;
}

mailbroker_result readResult(const std::string& command, const ParamMap& values,
                             const std::vector<std::string>& sentAttachments,
                             bool (*readable)(const std::string&)) {
    mailbroker_result r;
    r.command = command;
    for (const auto& [key, value] : values) {
        KsString k(key), v(value);
        r.values[k.utf8View()] = v.utf8View();
    }
    const CommandOutcome outcome = judgeReply(command, values);
    if (outcome.kind == CommandOutcome::Kind::Malformed) {
        throw ReplyError(outcome.message);
    }
    const std::string& error = r.values.at("error");  // judgeReply saw it
    if (error == "Not Supported") {
        r.status = MAPI_E_NO_SUPPORT;
    } else {
        r.status = static_cast<int32_t>(std::strtoll(error.c_str(), nullptr, 10));
    }
    if (const char* name = statusName(r.status)) {
        r.statusName = name;
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(r.status));
        r.statusName = hex;
    }
    if (command == "SendMail") {
        auto found = r.values.find("result");
        if (found != r.values.end()) {
            char* end = nullptr;
            errno = 0;
            const long long n = std::strtoll(found->second.c_str(), &end, 10);
            if (found->second.empty() || *end != '\0' || errno != 0 || n < INT32_MIN ||
                n > INT32_MAX) {
                throw ReplyError("SendMail: the reply's result field is not a number: " +
                                 found->second);
            }
            r.result = static_cast<int32_t>(n);
        } else {
            r.result = 0;  // judgeReply counts that as nothing composed
        }
        r.failedAttachments = unreadableAttachments(r.status, sentAttachments, readable);
    }
    if (command == "OutlookGetAddrs") {
        const char* keys[] = {"to", "cc", "bcc"};
        for (size_t i = 0; i < 3; ++i) {
            auto found = r.values.find(keys[i]);
            if (found != r.values.end()) {
                r.addresses[i] = splitAddresses(found->second);
            }
        }
    }
    if (command == "AutoCompleteFileName") {
        r.hasDisplayName = true;
        auto found = r.values.find("displayName");
        r.displayName = found != r.values.end() ? found->second : std::string();
    }
    r.succeeded = outcome.kind == CommandOutcome::Kind::Done;
    if (!r.succeeded) {
        r.message = outcome.message;
        if (command == "SendMail") {
            const std::string note =
                attachmentFailureNote(r.status, sentAttachments, readable);
            if (!note.empty()) {
                r.message += ": " + note;
            }
        }
    }
    return r;
}
