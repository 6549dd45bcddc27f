// SPDX-License-Identifier: MIT
// Request texts from values a host holds in its own variables (lists of
// recipients, paths, flags), where mailbroker-client's come from a command
// line: the C library builds its requests here. The checks are those of the
// client's requests (host/mail_request.h), and the errors are UsageError
// with a text naming the field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/mail_request.h"

// A recipient well: absent (no key in the request), or a list of recipient
// texts, which may be empty (the key with no value: an empty well for the
// address book dialog). No entry may be empty.
using RecipientList = std::optional<std::vector<std::string>>;

struct SendMailFields {
    RecipientList to, cc, bcc;
    std::optional<std::string> subject;
    std::optional<std::string> body;
    // Relative paths are taken from the working directory given to
    // sendMailRequest. Whether a file can be read is the Broker's to say: it
    // answers MAPI_E_NOT_FOUND or MAPI_E_NO_ACCESS, and the host names the
    // file from the paths it sent (host/attachment_check.h).
    std::vector<std::string> attachments;
    bool silent = false;
    uint32_t parent = 0;  // 0: no parent window, and no key
};

struct GetAddrsFields {
    RecipientList to, cc, bcc;
    bool showAddressBook = false;
    std::optional<std::string> caption;
    uint32_t parent = 0;  // at most 0x7FFFFFFF: the Broker reads it as a signed number
};

// "SendMail?...". Throws UsageError for text the request cannot carry, an
// empty recipient or path, a path holding ';', or a body over kBodyLimit.
std::string sendMailRequest(const SendMailFields& fields, const std::string& workingDir);

// "OutlookGetAddrs?...". Throws UsageError as above, for a parent over
// 0x7FFFFFFF, and when there is nothing to resolve (no well and no dialog).
std::string getAddrsRequest(const GetAddrsFields& fields);

// "AutoCompleteFileName?".
std::string autoCompleteRequest();
