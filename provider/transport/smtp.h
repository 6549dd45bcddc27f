// Delivery to an SMTP server through libcurl: smtp:// with STARTTLS when the
// server offers it (or required, with starttls = required), smtps:// with TLS
// from the start; AUTH from the profile's username and password or from a
// netrc file.
//
// A 5xx answer to MAIL, RCPT or the message is a permanent refusal; every
// other failure (4xx, no connection, a dropped connection, the time-out, a
// login that is missing or failed (530-538), a failed TLS negotiation: what
// the profile must fix) is temporary.
// The server's last answer lines are kept for the failure text; what the
// client sends is not, so AUTH never shows.
#pragma once

#include "provider/transport/transport.h"

namespace mb::provider {

class SmtpTransport final : public Transport {
  public:
    explicit SmtpTransport(const Profile& profile);

    DeliveryOutcome deliver(int fd, const Envelope& envelope,
                            std::chrono::seconds timeout) override;

  private:
    Profile profile_;
};

}  // namespace mb::provider
