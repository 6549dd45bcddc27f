// SPDX-License-Identifier: MIT
// The sent copy: after delivery, the message is appended to a folder of the
// account on its IMAP server (sent_copy = imap://HOST/FOLDER or imaps://...),
// where people look for what they sent. IMAP APPEND through libcurl, with the
// profile's login and TLS settings (connection_options.h).
//
// The copy is the message as it left, with its Bcc header (the sender's own
// copy says who got one) and without the store's X-Mailbroker-* headers,
// every line ending in CRLF as IMAP wants.
#pragma once

#include <memory>

#include "provider/transport/spooler.h"

namespace mb::provider {

// The URL libcurl gets for a sent_copy value: the folder percent-encoded,
// its '/' kept as the hierarchy's separator.
std::string sentCopyUrl(const std::string& value);

class ImapSentCopy final : public SentCopier {
  public:
    explicit ImapSentCopy(const Profile& profile);
    DeliveryOutcome append(int fd, std::chrono::seconds timeout) override;

  private:
    Profile profile_;
    std::string url_;
};

// Null when the profile keeps no sent copy.
std::unique_ptr<SentCopier> makeSentCopier(const Profile& profile);

}  // namespace mb::provider
