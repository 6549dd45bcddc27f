// The request texts of the mail subcommands, built from their options.
//
// Everything the request cannot carry is refused here, before any Broker is
// started: text that is not UTF-8, an attachment path holding ';' (the list
// separator, which has no escape), a file that cannot be read.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// A command line the client refuses; the text says what is wrong.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Bodies read from --body-file stop here: the whole request is held in memory
// three times over on its way (file, escaped text, the Broker's copy).
constexpr size_t kBodyFileLimit = 32u << 20;

// "SendMail?...". Relative attachment paths are taken from workingDir.
std::string sendRequest(const std::vector<std::string>& args, const std::string& workingDir);

// "OutlookGetAddrs?...".
std::string addrsRequest(const std::vector<std::string>& args);

// "AutoCompleteFileName?...".
std::string profileRequest(const std::vector<std::string>& args);

// What flush sends: every request logs on, and the logon retries delivery.
std::string flushRequest();
