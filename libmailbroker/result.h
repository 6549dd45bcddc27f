// SPDX-License-Identifier: MIT
// mailbroker_result: one answer of the Broker, read once into plain strings
// so that the accessors of the C interface only hand out pointers into it
// and cannot fail.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "codec/param_map.h"

struct mailbroker_result {
    std::string command;
    int32_t status = 0;
    std::string statusName;
    int32_t result = -1;  // SendMail's result field; -1 without one
    bool succeeded = false;
    std::string message;  // why it failed, "" when it succeeded
    std::array<std::vector<std::string>, 3> addresses;  // to, cc, bcc
    bool hasDisplayName = false;
    std::string displayName;
    std::vector<std::string> failedAttachments;
    std::map<std::string, std::string> values;  // every field, decoded
};

// Reads an answer to `command`. `sentAttachments` are the paths a SendMail
// carried, to name the one the Broker could not read. Throws ReplyError for an
// answer without a readable status.
mailbroker_result readResult(const std::string& command, const ParamMap& values,
                             const std::vector<std::string>& sentAttachments,
                             bool (*readable)(const std::string&));

class ReplyError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "SUCCESS_SUCCESS" for 0, else the MAPI name of the code, else nullptr.
const char* statusName(int32_t status);

// A ';'-separated list of addresses, without empty entries.
std::vector<std::string> splitAddresses(const std::string& text);
