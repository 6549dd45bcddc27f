// SPDX-License-Identifier: MIT
// The request texts of the mail subcommands, built from their options.
//
// Everything the request cannot carry is refused here, before any Broker is
// started: text that is not UTF-8, an attachment path holding ';' (the list
// separator, which has no escape), a file that cannot be read.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "codec/frame.h"
#include "codec/param_map.h"
#include "foundation/ks_string.h"

// A command line the client refuses; the text says what is wrong.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A request longer than a Broker takes (kRequestLimit): a usage error, which
// the C library tells apart from the others.
class RequestTooLarge : public UsageError {
  public:
    using UsageError::UsageError;
};

// A body, given with --body or read with --body-file, stops here; escaped for
// the request it may take three times that, and a whole request stops at
// kRequestLimit, the most a Broker takes.
constexpr size_t kBodyLimit = 16u << 20;
constexpr size_t kRequestLimit = codec::kRequestMaxLength;

// The body file's text: `path`, or standard input for "-". A regular file is
// read by its size; a FIFO or a terminal in chunks. Throws UsageError for a
// file that cannot be read or holds more than kBodyLimit bytes (checked
// against its size first, and again while reading, should it grow).
std::string readBodyFile(const std::string& path);

// Whether args (what follows the command's name) ask for the command's help:
// "--help" or "-h" where an option may stand, not as an option's value
// ("--subject -h" is a subject).
bool asksForHelp(const std::string& command, const std::vector<std::string>& args);

// "SendMail?...". Relative attachment paths are taken from workingDir.
std::string sendRequest(const std::vector<std::string>& args, const std::string& workingDir);

// "OutlookGetAddrs?...".
std::string addrsRequest(const std::vector<std::string>& args);

// "AutoCompleteFileName?...".
std::string profileRequest(const std::vector<std::string>& args);

// The pieces every request text is built from, for the typed requests of
// host/typed_request.h too. `value` as record text: throws UsageError
// ("COMMAND: WHAT is not UTF-8 text", "... holds a NUL character").
KsString requestText(const char* command, const std::string& what, const std::string& value);
// The values joined by ';', the separator of the request's lists.
std::string joinedValues(const std::vector<std::string>& values);
// "NAME?k=v&..." percent-encoded; throws UsageError over kRequestLimit.
std::string encodedRequest(const char* name, ParamMap params);

// What flush sends: every request logs on, and the logon retries delivery.
std::string flushRequest();
