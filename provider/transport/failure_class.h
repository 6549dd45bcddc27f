// Which failures a retry can fix: the one place that reads libcurl's result,
// the server's last reply code and what went wrong before the transfer, and
// says what becomes of the message (delivery_failure.h).
#pragma once

#include <curl/curl.h>

#include "provider/transport/delivery_failure.h"

namespace mb::provider {

// What went wrong on our side of an SMTP delivery, before or outside
// libcurl's own result.
enum class LocalFailure {
    None,
    MessageUnreadable,      // the queued file could not be read
    CredentialUnavailable,  // a password command or keyring failed: may work next time
    TokenMissing,           // no access token to send
    CertificateRejected,    // the server's certificate does not match the pin
};

// replyCode is the server's last reply (0 for none).
FailureKind classifySmtpFailure(CURLcode code, long replyCode, LocalFailure local);

// A sendmail command's exit code (not 0).
FailureKind classifySendmailExit(int exitCode);

// "needs attention" etc., for logs and the client.
const char* describeFailureKind(FailureKind kind);

}  // namespace mb::provider
