// SPDX-License-Identifier: MIT
#include "host/attachment_check.h"

#include "codec/query_record.h"
#include "mapi/mapi_codes.h"

std::vector<std::string> sentAttachments(const std::string& request) {
    std::vector<std::string> paths;
    QueryRecord record;
    try {
        record.decode(KsString(request.c_str()));
    } catch (...) {
        return paths;
    }
    const auto found = record.params.find(KsString("attachment"));
    if (found == record.params.end()) {
        return paths;
    }
    KsString copy(found->second);
    const std::string list = copy.utf8View();
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        if (end > start) {
            paths.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return paths;
}

std::vector<std::string> unreadableAttachments(HRESULT status, const std::vector<std::string>& sent,
                                               bool (*readable)(const std::string&)) {
    if ((status != MAPI_E_NOT_FOUND && status != MAPI_E_NO_ACCESS) || sent.empty()) {
        return {};
    }
    if (sent.size() == 1) {
        return sent;
    }
    std::vector<std::string> unreadable;
    for (const std::string& path : sent) {
        if (!readable(path)) {
            unreadable.push_back(path);
        }
    }
    return unreadable;
}

std::string attachmentFailureNote(HRESULT status, const std::vector<std::string>& sent,
                                  bool (*readable)(const std::string&)) {
    if ((status != MAPI_E_NOT_FOUND && status != MAPI_E_NO_ACCESS) || sent.empty()) {
        return {};
    }
    const std::vector<std::string> unreadable = unreadableAttachments(status, sent, readable);
    if (unreadable.empty()) {
        return "one of the attachments could not be read whole (it may have changed while it "
               "was read)";
    }
    std::string note = unreadable.size() == 1 ? "attachment " : "attachments ";
    for (size_t i = 0; i < unreadable.size(); ++i) {
        note += (i == 0 ? "" : ", ") + unreadable[i];
    }
    return note + " cannot be read";
}
