// SPDX-License-Identifier: MIT
// Delivery to an SMTP server through libcurl, connected as the profile says
// (connection_options.h: TLS, trust, pin, client certificate, mechanism) with
// the credentials looked up for this delivery (credentials.h).
//
// A 5xx answer to MAIL, RCPT or the message is a permanent refusal. A login
// that is missing or refused (530-538), a certificate that is not trusted or
// not the pinned one, a server without the TLS the profile requires, or a
// password or token that cannot be had needs the user's attention. Every
// other failure (4xx, no connection, a dropped connection, the time-out) is
// temporary.
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
