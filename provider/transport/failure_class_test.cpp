// SPDX-License-Identifier: MIT
// Which failures a retry can fix: SMTP results through
// classifyConnectionFailure, sendmail exits through classifySendmailExit.
#include <gtest/gtest.h>

#include "provider/transport/connection_options.h"
#include "provider/transport/failure_class.h"

namespace mb::provider {
namespace {

using Kind = DeliveryFailure::Kind;

Kind smtp(CURLcode code, long reply, bool permanentAllowed = true) {
    const ConnectionState state;
    return classifyConnectionFailure(code, reply, state, "why", permanentAllowed).kind;
}

TEST(FailureClass, RefusedLoginsNeedTheUserWhateverLibcurlCallsThem) {
    EXPECT_EQ(smtp(CURLE_LOGIN_DENIED, 535), Kind::NeedsAttention);
    // libcurl reports some refusals as a plain error with the reply code only.
    EXPECT_EQ(smtp(CURLE_WEIRD_SERVER_REPLY, 530), Kind::NeedsAttention);
    EXPECT_EQ(smtp(CURLE_SEND_ERROR, 534), Kind::NeedsAttention);
    EXPECT_EQ(smtp(CURLE_LOGIN_DENIED, 0), Kind::NeedsAttention);
    EXPECT_EQ(smtp(CURLE_AUTH_ERROR, 0), Kind::NeedsAttention);
}

TEST(FailureClass, CertificateProblemsNeedTheUser) {
    for (CURLcode code : {CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CACERT_BADFILE,
                          CURLE_SSL_CERTPROBLEM, CURLE_USE_SSL_FAILED}) {
        EXPECT_EQ(smtp(code, 0), Kind::NeedsAttention) << code;
    }
    // The pin is checked inside the handshake, which libcurl then calls a
    // mere connect error; the state knows better.
    ConnectionState pinned;
    pinned.pinMismatch = true;
    pinned.seenFingerprint = "AB:CD";
    const DeliveryFailure failure =
        classifyConnectionFailure(CURLE_SSL_CONNECT_ERROR, 0, pinned, "handshake", true);
    EXPECT_EQ(failure.kind, Kind::NeedsAttention);
    EXPECT_NE(failure.reason.find("AB:CD"), std::string::npos) << failure.reason;
    // Without that, a broken handshake may be the network's doing.
    EXPECT_EQ(smtp(CURLE_SSL_CONNECT_ERROR, 0), Kind::Temporary);
}

TEST(FailureClass, NetworkFaultsAndBusyServersAreRetried) {
    for (CURLcode code : {CURLE_COULDNT_CONNECT, CURLE_COULDNT_RESOLVE_HOST,
                          CURLE_OPERATION_TIMEDOUT, CURLE_RECV_ERROR, CURLE_GOT_NOTHING}) {
        EXPECT_EQ(smtp(code, 0), Kind::Temporary) << code;
    }
    EXPECT_EQ(smtp(CURLE_SEND_ERROR, 451), Kind::Temporary);
    // 454: authentication failed for now on the server's side.
    EXPECT_EQ(smtp(CURLE_WEIRD_SERVER_REPLY, 454), Kind::Temporary);
}

TEST(FailureClass, RefusedMessagesAreUndeliverableUnlessWeFailedToReadThem) {
    EXPECT_EQ(smtp(CURLE_SEND_ERROR, 554), Kind::Permanent);
    EXPECT_EQ(smtp(CURLE_RECV_ERROR, 550), Kind::Permanent);
    // 529 and 539 lie outside the login replies.
    EXPECT_EQ(smtp(CURLE_SEND_ERROR, 539), Kind::Permanent);
    EXPECT_EQ(smtp(CURLE_SEND_ERROR, 529), Kind::Permanent);
    // A message we could not read is not the server's refusal, even after a 5xx.
    EXPECT_EQ(smtp(CURLE_ABORTED_BY_CALLBACK, 554, false), Kind::Temporary);
    // A refused login stays the user's, whatever else went wrong.
    EXPECT_EQ(smtp(CURLE_LOGIN_DENIED, 535, false), Kind::NeedsAttention);
}

TEST(FailureClass, SendmailExitCodes) {
    EXPECT_EQ(classifySendmailExit(65), Kind::Permanent);
    EXPECT_EQ(classifySendmailExit(67), Kind::Permanent);
    EXPECT_EQ(classifySendmailExit(68), Kind::Permanent);
    EXPECT_EQ(classifySendmailExit(78), Kind::NeedsAttention);  // msmtp without a sender
    EXPECT_EQ(classifySendmailExit(77), Kind::NeedsAttention);
    EXPECT_EQ(classifySendmailExit(75), Kind::Temporary);
    EXPECT_EQ(classifySendmailExit(1), Kind::Temporary);
}

}  // namespace
}  // namespace mb::provider
