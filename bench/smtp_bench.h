// SPDX-License-Identifier: MIT
// What the delivery benchmarks share: the loopback SMTP server of the tests
// (tests/smtp/smtp_server.py), message bodies, and msmtp sending one file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace bench {

struct SmtpServer {
    pid_t pid = -1;
    int port = 0;
};

// Starts the server storing what it receives in `dir`; exits the process when
// it cannot.
SmtpServer startSmtpServer(const std::string& dir);
void stopSmtpServer(const SmtpServer& server);
// The messages the server has stored in `dir`.
std::size_t receivedMessages(const std::string& dir);

// Lines of 72 characters, about bodyBytes in all; the newline is the caller's
// ("\n", or "%0A" for a request).
std::string messageBody(std::size_t bodyBytes, const std::string& newline);

// msmtp sends `file` to the server as a user's script would: one process,
// recipients from the headers. True when it exits 0.
bool sendWithMsmtp(const std::string& file, int port);

}  // namespace bench
