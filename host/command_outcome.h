// SPDX-License-Identifier: MIT
// What a reply says about its command: done, failed (and the MAPI code's name
// for the user), or not a reply the client can read.
#pragma once

#include <cstdint>
#include <string>

#include "codec/param_map.h"

struct CommandOutcome {
    enum class Kind { Done, Failed, Malformed };
    Kind kind = Kind::Done;
    std::string message;  // for Failed and Malformed: one line, without the program name
};

// "MAPI_E_USER_CANCEL (0x80040113)", or "0x80041234" for a code without a name.
std::string mapiCodeText(int32_t code);

// `command` is the request's name. Failed: "error" is negative or "Not
// Supported"; for SendMail also a "result" other than 1 (nothing composed).
CommandOutcome judgeReply(const std::string& command, const ParamMap& values);
