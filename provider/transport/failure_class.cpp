#include "provider/transport/failure_class.h"

namespace mb::provider {
namespace {

// Results that say the profile (or the server's set-up) is wrong: the same
// request fails the same way until someone changes it.
bool needsTheUser(CURLcode code) {
    switch (code) {
        case CURLE_LOGIN_DENIED:              // 535 and friends, or no login at all
        case CURLE_AUTH_ERROR:                // no mechanism both sides know, a bad token
        case CURLE_USE_SSL_FAILED:            // TLS required, the server offers none
        case CURLE_PEER_FAILED_VERIFICATION:  // certificate not trusted, wrong name
        case CURLE_SSL_CACERT_BADFILE:        // the trust file cannot be read
        case CURLE_SSL_CERTPROBLEM:           // the client certificate cannot be used
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return true;
        default:
            return false;
    }
}

}  // namespace

FailureKind classifySmtpFailure(CURLcode code, long replyCode, LocalFailure local) {
    switch (local) {
        case LocalFailure::MessageUnreadable:
        case LocalFailure::CredentialUnavailable:
            return FailureKind::Temporary;
        case LocalFailure::TokenMissing:
        case LocalFailure::CertificateRejected:
            return FailureKind::NeedsAttention;
        case LocalFailure::None:
            break;
    }
    // 530 authentication required, 534 mechanism too weak, 535 credentials
    // invalid, 538 encryption required: the login's to fix, whatever libcurl
    // made of it. (454 is a temporary authentication failure.)
    if (needsTheUser(code) || (replyCode >= 530 && replyCode <= 538)) {
        return FailureKind::NeedsAttention;
    }
    if (replyCode >= 500 && replyCode < 600) {
        return FailureKind::Permanent;
    }
    return FailureKind::Temporary;
}

FailureKind classifySendmailExit(int exitCode) {
    switch (exitCode) {
        case 65:  // EX_DATAERR
        case 67:  // EX_NOUSER
        case 68:  // EX_NOHOST
            return FailureKind::Permanent;
        case 77:  // EX_NOPERM: a refused login
        case 78:  // EX_CONFIG: msmtp without a sender, a broken configuration
            return FailureKind::NeedsAttention;
        default:
            return FailureKind::Temporary;
    }
}

const char* describeFailureKind(FailureKind kind) {
    switch (kind) {
        case FailureKind::Temporary:
            return "failed for now";
        case FailureKind::NeedsAttention:
            return "needs attention";
        case FailureKind::Permanent:
            return "refused for good";
    }
    return "failed";
}

}  // namespace mb::provider
