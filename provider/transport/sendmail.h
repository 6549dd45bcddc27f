// SPDX-License-Identifier: MIT
// Delivery through the local sendmail interface: "/usr/sbin/sendmail -t -oi",
// or the command of "transport = sendmail:COMMAND ARGS", with the message on
// standard input. The Bcc header stays (-t reads the recipients from the
// headers and removes it); X-Mailbroker-* headers do not.
//
// The command runs without a shell: it is split at blanks, and '...' or
// "..." quote a word containing blanks. A command that needs pipes or
// redirections names the shell itself: sendmail:/bin/sh -c '...'. It runs in
// a process group of its own, all of which is killed at the time-out; its
// standard output and error (the first 4 KiB) explain a failure.
//
// With a sender address (the profile's sender_address, unless sendmail_from
// = no), "-f ADDRESS" follows the command's own arguments, so that the
// envelope sender (and the Return-Path bounces go to) is the profile's, not
// the login name at the host.
//
// Exit status: 0 delivered; EX_DATAERR (65), EX_NOUSER (67) and EX_NOHOST
// (68) say the message or an address is at fault: undeliverable. Anything
// else (EX_TEMPFAIL 75, configuration and usage errors that the user can
// fix, a signal, the time-out, a program that cannot be run) leaves the
// message queued.
#pragma once

#include <vector>

#include "provider/transport/transport.h"

namespace mb::provider {

inline constexpr const char* kSystemSendmail = "/usr/sbin/sendmail";

// The words of a command; false for an unbalanced quote or no words.
bool splitCommand(const std::string& command, std::vector<std::string>& words);

class SendmailTransport final : public Transport {
  public:
    // transport is "sendmail" or "sendmail:COMMAND"; envelopeSender, when
    // not empty, is passed with -f.
    explicit SendmailTransport(const std::string& transport,
                               const std::string& envelopeSender = "");

    DeliveryOutcome deliver(int fd, const Envelope& envelope,
                            std::chrono::seconds timeout) override;

  private:
    std::vector<std::string> argv_;  // empty: the command does not parse
};

}  // namespace mb::provider
