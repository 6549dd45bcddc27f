#include "provider/transport/failure_class.h"

#include <gtest/gtest.h>

namespace mb::provider {
namespace {

TEST(FailureClass, RefusedLoginsNeedTheUserWhateverLibcurlCallsThem) {
    EXPECT_EQ(classifySmtpFailure(CURLE_LOGIN_DENIED, 535, LocalFailure::None),
              FailureKind::NeedsAttention);
    // libcurl reports some refusals as a plain error with the reply code only.
    EXPECT_EQ(classifySmtpFailure(CURLE_WEIRD_SERVER_REPLY, 530, LocalFailure::None),
              FailureKind::NeedsAttention);
    EXPECT_EQ(classifySmtpFailure(CURLE_SEND_ERROR, 534, LocalFailure::None),
              FailureKind::NeedsAttention);
    EXPECT_EQ(classifySmtpFailure(CURLE_LOGIN_DENIED, 0, LocalFailure::None),
              FailureKind::NeedsAttention);
    EXPECT_EQ(classifySmtpFailure(CURLE_AUTH_ERROR, 0, LocalFailure::None),
              FailureKind::NeedsAttention);
}

TEST(FailureClass, CertificateProblemsNeedTheUser) {
    for (CURLcode code : {CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CACERT_BADFILE,
                          CURLE_SSL_CERTPROBLEM, CURLE_USE_SSL_FAILED}) {
        EXPECT_EQ(classifySmtpFailure(code, 0, LocalFailure::None), FailureKind::NeedsAttention)
            << code;
    }
    // The pin is checked by us inside the handshake, which libcurl then calls
    // a mere connect error.
    EXPECT_EQ(classifySmtpFailure(CURLE_SSL_CONNECT_ERROR, 0, LocalFailure::CertificateRejected),
              FailureKind::NeedsAttention);
    // Without that, a broken handshake may be the network's doing.
    EXPECT_EQ(classifySmtpFailure(CURLE_SSL_CONNECT_ERROR, 0, LocalFailure::None),
              FailureKind::Temporary);
}

TEST(FailureClass, NetworkFaultsAndBusyServersAreRetried) {
    for (CURLcode code : {CURLE_COULDNT_CONNECT, CURLE_COULDNT_RESOLVE_HOST,
                          CURLE_OPERATION_TIMEDOUT, CURLE_RECV_ERROR, CURLE_GOT_NOTHING}) {
        EXPECT_EQ(classifySmtpFailure(code, 0, LocalFailure::None), FailureKind::Temporary)
            << code;
    }
    EXPECT_EQ(classifySmtpFailure(CURLE_SEND_ERROR, 451, LocalFailure::None),
              FailureKind::Temporary);
    // 454: authentication failed for now on the server's side.
    EXPECT_EQ(classifySmtpFailure(CURLE_WEIRD_SERVER_REPLY, 454, LocalFailure::None),
              FailureKind::Temporary);
}

TEST(FailureClass, RefusedMessagesAreUndeliverable) {
    EXPECT_EQ(classifySmtpFailure(CURLE_SEND_ERROR, 554, LocalFailure::None),
              FailureKind::Permanent);
    EXPECT_EQ(classifySmtpFailure(CURLE_RECV_ERROR, 550, LocalFailure::None),
              FailureKind::Permanent);
    // 529 and 539 lie outside the login replies.
    EXPECT_EQ(classifySmtpFailure(CURLE_SEND_ERROR, 539, LocalFailure::None),
              FailureKind::Permanent);
}

TEST(FailureClass, OurOwnFailuresDecideBeforeTheReply) {
    // A message we could not read is not the server's refusal, even after a 5xx.
    EXPECT_EQ(classifySmtpFailure(CURLE_ABORTED_BY_CALLBACK, 554, LocalFailure::MessageUnreadable),
              FailureKind::Temporary);
    EXPECT_EQ(classifySmtpFailure(CURLE_OK, 0, LocalFailure::CredentialUnavailable),
              FailureKind::Temporary);
    EXPECT_EQ(classifySmtpFailure(CURLE_OK, 0, LocalFailure::TokenMissing),
              FailureKind::NeedsAttention);
}

TEST(FailureClass, SendmailExitCodes) {
    EXPECT_EQ(classifySendmailExit(65), FailureKind::Permanent);
    EXPECT_EQ(classifySendmailExit(67), FailureKind::Permanent);
    EXPECT_EQ(classifySendmailExit(68), FailureKind::Permanent);
    EXPECT_EQ(classifySendmailExit(78), FailureKind::NeedsAttention);  // msmtp without a sender
    EXPECT_EQ(classifySendmailExit(77), FailureKind::NeedsAttention);
    EXPECT_EQ(classifySendmailExit(75), FailureKind::Temporary);
    EXPECT_EQ(classifySendmailExit(1), FailureKind::Temporary);
}

}  // namespace
}  // namespace mb::provider
