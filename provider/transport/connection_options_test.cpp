// SPDX-License-Identifier: MIT
#include "provider/transport/connection_options.h"

#include <gtest/gtest.h>

namespace mb::provider::test {
namespace {

using Kind = DeliveryFailure::Kind;

TEST(ConnectionOptions, ImplicitTlsChangesTheScheme) {
    Profile profile;
    EXPECT_EQ(connectionUrl(profile, "smtp://h:465"), "smtp://h:465");
    profile.tls = TlsMode::Implicit;
    EXPECT_EQ(connectionUrl(profile, "smtp://h:465"), "smtps://h:465");
    EXPECT_EQ(connectionUrl(profile, "imap://h/Sent"), "imaps://h/Sent");
    EXPECT_EQ(connectionUrl(profile, "smtps://h"), "smtps://h");
}

TEST(ConnectionOptions, FailuresAreSortedByWhatCanFixThem) {
    const ConnectionState plain;
    auto kind = [&](CURLcode code, long response, bool permanentAllowed = true) {
        return classifyConnectionFailure(code, response, plain, "why", permanentAllowed).kind;
    };
    EXPECT_EQ(kind(CURLE_LOGIN_DENIED, 535), Kind::NeedsAttention);
    EXPECT_EQ(kind(CURLE_SEND_ERROR, 534), Kind::NeedsAttention);
    EXPECT_EQ(kind(CURLE_SEND_ERROR, 530), Kind::NeedsAttention);
    EXPECT_EQ(kind(CURLE_PEER_FAILED_VERIFICATION, 0), Kind::NeedsAttention);
    EXPECT_EQ(kind(CURLE_SSL_CACERT_BADFILE, 0), Kind::NeedsAttention);
    EXPECT_EQ(kind(CURLE_USE_SSL_FAILED, 0), Kind::NeedsAttention);
    EXPECT_EQ(kind(CURLE_SEND_ERROR, 554), Kind::Permanent);
    EXPECT_EQ(kind(CURLE_SEND_ERROR, 554, false), Kind::Temporary);
    EXPECT_EQ(kind(CURLE_SEND_ERROR, 451), Kind::Temporary);
    EXPECT_EQ(kind(CURLE_COULDNT_CONNECT, 0), Kind::Temporary);
    EXPECT_EQ(kind(CURLE_OPERATION_TIMEDOUT, 0), Kind::Temporary);

    ConnectionState pinned;
    pinned.pinMismatch = true;
    pinned.seenFingerprint = "AA:BB";
    const DeliveryFailure failure =
        classifyConnectionFailure(CURLE_SSL_CONNECT_ERROR, 0, pinned, "handshake failed", true);
    EXPECT_EQ(failure.kind, Kind::NeedsAttention);
    EXPECT_EQ(failure.reason,
              "the server's certificate has the SHA-256 fingerprint AA:BB, not the one in "
              "tls_fingerprint");
}

}  // namespace
}  // namespace mb::provider::test
