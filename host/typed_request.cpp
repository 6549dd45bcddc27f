// SPDX-License-Identifier: MIT
#include "host/typed_request.h"

namespace {

void putList(const char* command, const char* key, const RecipientList& list, ParamMap& params) {
    if (!list) {
        return;
    }
    for (size_t i = 0; i < list->size(); ++i) {
        // An empty entry resolves to no one; in a host's list it is a slip
        // worth hearing about rather than a recipient silently dropped.
        if ((*list)[i].empty()) {
            throw UsageError(std::string(command) + ": " + key + " recipient " +
                             std::to_string(i + 1) + " is empty");
        }
    }
    params[KsString(key)] =
        requestText(command, std::string(key) + " recipients", joinedValues(*list));
}

void putRecipients(const char* command, const RecipientList& to, const RecipientList& cc,
                   const RecipientList& bcc, ParamMap& params) {
    putList(command, "to", to, params);
    putList(command, "cc", cc, params);
    putList(command, "bcc", bcc, params);
}

std::string absolutePath(const std::string& path, const std::string& workingDir) {
    if (path.empty()) {
        throw UsageError("SendMail: an attachment path is empty");
    }
    if (path.find(';') != std::string::npos) {
        throw UsageError("SendMail: cannot attach " + path +
                         ": the request separates attachments with ';', so a path holding one "
                         "cannot be passed (rename or link the file)");
    }
    std::string relative = path;
    while (relative.rfind("./", 0) == 0) {
        relative.erase(0, 2);
    }
    return path.front() == '/' ? path : workingDir + "/" + relative;
}

}  // namespace

std::string sendMailRequest(const SendMailFields& fields, const std::string& workingDir) {
    const char* command = "SendMail";
    ParamMap params;
    putRecipients(command, fields.to, fields.cc, fields.bcc, params);
    if (fields.subject) {
        params[KsString("subject")] = requestText(command, "the subject", *fields.subject);
    }
    if (fields.body) {
        if (fields.body->size() > kBodyLimit) {
            throw UsageError("SendMail: the body is larger than " +
                             std::to_string(kBodyLimit >> 20) + " MiB");
        }
        params[KsString("message")] = requestText(command, "the body", *fields.body);
    }
    if (!fields.attachments.empty()) {
        std::vector<std::string> paths;
        for (const std::string& path : fields.attachments) {
            paths.push_back(absolutePath(path, workingDir));
        }
        params[KsString("attachment")] =
            requestText(command, "an attachment path", joinedValues(paths));
    }
    if (fields.silent) {
        params[KsString("silent")] = KsString("1");
    }
    if (fields.parent != 0) {
        params[KsString("parent")] = KsString(std::to_string(fields.parent).c_str());
    }
    return encodedRequest(command, std::move(params));
}

std::string getAddrsRequest(const GetAddrsFields& fields) {
    const char* command = "OutlookGetAddrs";
    ParamMap params;
    putRecipients(command, fields.to, fields.cc, fields.bcc, params);
    if (params.empty() && !fields.showAddressBook) {
        throw UsageError(
            "OutlookGetAddrs: nothing to resolve: give a recipient list or ask for the address "
            "book");
    }
    if (fields.showAddressBook) {
        params[KsString("ShowAddressBook")] = KsString("1");
        if (params.size() == 1) {
            // The Broker offers the dialog a well per recipient key it gets:
            // with none given, one To well to pick into.
            params[KsString("to")] = KsString("");
        }
    }
    if (fields.caption) {
        params[KsString("caption")] = requestText(command, "the caption", *fields.caption);
    }
    if (fields.parent > 0x7FFFFFFFu) {
        throw UsageError("OutlookGetAddrs: the parent window must be at most 2147483647");
    }
    if (fields.parent != 0) {
        params[KsString("parent")] = KsString(std::to_string(fields.parent).c_str());
    }
    return encodedRequest(command, std::move(params));
}

std::string autoCompleteRequest() {
    return encodedRequest("AutoCompleteFileName", {});
}
