// SPDX-License-Identifier: MIT
#include "provider/transport/transport.h"

#include "provider/transport/sendmail.h"
#include "provider/transport/smtp.h"

namespace mb::provider {

std::unique_ptr<Transport> makeTransport(const Profile& profile) {
    const std::string& kind = profile.transport;
    if (kind.rfind("smtp://", 0) == 0 || kind.rfind("smtps://", 0) == 0) {
        return std::make_unique<SmtpTransport>(profile);
    }
    if (kind == "sendmail" || kind.rfind("sendmail:", 0) == 0) {
        return std::make_unique<SendmailTransport>(
            kind, profile.sendmailFrom ? profile.senderAddress : std::string());
    }
    return nullptr;
}

}  // namespace mb::provider
