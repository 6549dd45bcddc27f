// SPDX-License-Identifier: MIT
// The frame as the Broker reads it, and how it answers each kind of request,
// seen from a client on a real pipe. Without a provider every answered request
// carries error=-2147221246; with the double it is logged on and answers
// "Not Supported".
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "host/host_error.h"

#include "codec/frame.h"
#include "tests/support/broker_fixture.h"
#include "tests/support/proc_counts.h"

using namespace mbtest;
using codec::kFrameMagic;
using codec::kFrameVersion;

namespace {

constexpr uint32_t kReplyMs = 10000;

class Framing : public ::testing::Test {
  protected:
    BrokerInstall install{Provider::None};
    BrokerHost broker = startBroker(install);
};

TEST_F(Framing, RequestIsAnsweredWithItsMessageIdAndTheBrokersPid) {
    BrokerConnection c = broker.connect();
    BrokerConnection::Reply reply = c.request("SendMail?to=a%40b.org", kReplyMs);
    EXPECT_EQ(reply.messageId, 1u);
    EXPECT_EQ(reply.processId, static_cast<uint32_t>(broker.pid()));
    KsString name(reply.name);
    EXPECT_STREQ(name.utf8View(), "SendMailResponse");
    EXPECT_EQ(fields(reply), std::string("error=") + kNoSupport + ";");
}

TEST_F(Framing, WrongMagicIsRejectedOnlyAfterAllFiveHeaderMessages) {
    BrokerConnection c = broker.connect();
    sendWord(c, 0x12345678u);
    sendWord(c, kFrameVersion);
    sendWord(c, 1);
    sendWord(c, 7);
    // Four fields in: the Broker still waits for the fifth before it judges.
    EXPECT_TRUE(silentButConnected(c, 300));
    sendWord(c, 3);
    EXPECT_TRUE(waitForBrokerClose(c, 3000));
}

TEST_F(Framing, WrongVersionIsRejectedOnlyAfterAllFiveHeaderMessages) {
    BrokerConnection c = broker.connect();
    sendWord(c, kFrameMagic);
    sendWord(c, 0x00020000u);
    sendWord(c, 1);
    sendWord(c, 7);
    EXPECT_TRUE(silentButConnected(c, 300));
    sendWord(c, 3);
    EXPECT_TRUE(waitForBrokerClose(c, 3000));
}

TEST_F(Framing, LengthZeroReadsNoPayloadAndIsAnsweredWithMessageIdZero) {
    BrokerConnection c = broker.connect();
    sendHeader(c, kFrameMagic, kFrameVersion, 41, 0);
    BrokerConnection::Reply reply = c.receive(kReplyMs);
    EXPECT_EQ(reply.messageId, 0u);
    EXPECT_EQ(fields(reply), std::string("error=") + kNoSupport + ";");
    // No payload was expected: the next frame is read from the right place.
    BrokerConnection::Reply next = c.request("X", kReplyMs);
    EXPECT_EQ(next.messageId, 1u);
}

// A request carries paths and text: a length over the cap ends the connection
// at once, unanswered and without reading what follows.
TEST_F(Framing, LengthOverTheRequestLimitEndsTheConnectionUnread) {
    for (uint32_t length : {codec::kRequestMaxLength + 1, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        BrokerConnection c = broker.connect();
        sendHeader(c, kFrameMagic, kFrameVersion, 9, length);
        EXPECT_TRUE(waitForBrokerClose(c, 3000)) << length;
        uint32_t available = 0;
        EXPECT_FALSE(c.peek(&available));
        EXPECT_EQ(available, 0u) << "a reply came";
    }
    BrokerConnection other = broker.connect();
    EXPECT_EQ(value(other.request("X", kReplyMs), "error"), kNoSupport);
}

TEST_F(Framing, RequestOfExactlyTheLimitIsAnswered) {
    BrokerConnection c = broker.connect();
    std::string payload = "X?pad=";
    payload.resize(codec::kRequestMaxLength, 'p');
    BrokerConnection::Reply reply = c.request(payload, kReplyMs);
    EXPECT_EQ(value(reply, "error"), kNoSupport);
}

TEST_F(Framing, ThreeBytePayloadIsAnswered) {
    BrokerConnection c = broker.connect();
    sendHeader(c, kFrameMagic, kFrameVersion, 77, 3);
    sendPayload(c, "Abc");
    BrokerConnection::Reply reply = c.receive(kReplyMs);
    EXPECT_EQ(reply.messageId, 77u);
    EXPECT_EQ(fields(reply), std::string("error=") + kNoSupport + ";");
}

TEST_F(Framing, TwoRequestsOnOneConnectionGetTwoRepliesInOrder) {
    BrokerConnection c = broker.connect();
    uint32_t first = c.send("A?x=1");
    uint32_t second = c.send("B?y=2");
    EXPECT_EQ(c.receive(kReplyMs).messageId, first);
    EXPECT_EQ(c.receive(kReplyMs).messageId, second);
}

TEST_F(Framing, MalformedEscapeGetsNoReplyAndThePipeStaysConnected) {
    BrokerConnection c = broker.connect();
    c.send("SendMail?subject=%4");
    EXPECT_TRUE(silentButConnected(c, 500));
    // The Broker goes on serving everyone else.
    BrokerConnection other = broker.connect();
    EXPECT_EQ(value(other.request("X", kReplyMs), "error"), kNoSupport);
}

TEST_F(Framing, ShortMessageCountsAsOneHeaderField) {
    BrokerConnection c = broker.connect();
    // Byte counts are not checked: the two bytes are the magic, which is wrong.
    c.writeMessage("\xff\x00", 2);
    sendWord(c, kFrameVersion);
    sendWord(c, 1);
    sendWord(c, 2);
    EXPECT_TRUE(silentButConnected(c, 300));
    sendWord(c, 0);
    EXPECT_TRUE(waitForBrokerClose(c, 3000));
    BrokerConnection other = broker.connect();
    EXPECT_EQ(value(other.request("X", kReplyMs), "error"), kNoSupport);
}

TEST_F(Framing, PayloadShorterThanAnnouncedIsReadAsTheShortPayload) {
    BrokerConnection c = broker.connect();
    sendHeader(c, kFrameMagic, kFrameVersion, 5, 10);
    sendPayload(c, "abc");
    BrokerConnection::Reply reply = c.receive(kReplyMs);
    EXPECT_EQ(reply.messageId, 5u);
    EXPECT_EQ(fields(reply), std::string("error=") + kNoSupport + ";");
}

// A client that announces the longest request and sends three bytes must not cost the
// Broker memory in proportion to the lie: copying or touching the announced
// length would show in its resident size. A hang shows as a receive time-out.
TEST_F(Framing, LengthsAtTheLimitCostNoMemory) {
    // Two are enough to show it and spare the machine: each may cost 64 MiB.
    constexpr uint32_t kClients = 2;
    std::vector<BrokerConnection> clients;
    for (uint32_t i = 0; i < kClients; ++i) {
        clients.push_back(broker.connect());
        ASSERT_EQ(value(clients.back().request("X", kReplyMs), "error"), kNoSupport);
    }
    // 0 stands for "unknown", under which the bound below would hold for nothing.
    ASSERT_GT(residentKiB(broker.pid()), 0u);
    std::atomic<bool> done{false};
    std::atomic<size_t> peakKiB{0};
    std::thread sampler([&] {
        while (!done) {
            peakKiB = std::max<size_t>(peakKiB, residentKiB(broker.pid()));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    for (uint32_t i = 0; i < kClients; ++i) {
        sendHeader(clients[i], kFrameMagic, kFrameVersion, 100 + i, codec::kRequestMaxLength);
        sendPayload(clients[i], "abc");
    }
    for (uint32_t i = 0; i < kClients; ++i) {
        try {
            EXPECT_EQ(clients[i].receive(kReplyMs).messageId, 100 + i);
        } catch (const HostError& e) {
            ADD_FAILURE() << "client " << i << ": " << e.what();
        }
    }
    done = true;
    sampler.join();
    size_t limitKiB = 64u * 1024u;
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer marks a new block's shadow, an eighth of its size, which
    // the Broker of a sanitized build pays on top.
    limitKiB += kClients * (codec::kRequestMaxLength / 8 / 1024);
#elif defined(__SANITIZE_THREAD__)
    // ThreadSanitizer keeps shadow and history memory for every thread and
    // block, resident from the start: the bound is then only that the
    // announced lengths were not allocated, which would be gigabytes.
    limitKiB += 512u * 1024u;
#endif
    EXPECT_LT(peakKiB.load(), limitKiB) << "peak resident KiB";
    EXPECT_TRUE(broker.process().running());
}

class LoggedOnFraming : public ::testing::Test {
  protected:
    BrokerInstall install{Provider::Double};
    BrokerHost broker = startBroker(install);
};

TEST_F(LoggedOnFraming, AnyUnknownNameIsNotSupported) {
    BrokerConnection c = broker.connect();
    for (const char* request : {"Frobnicate?a=1", "NoSuchCommand", "?a=1", "x=1"}) {
        BrokerConnection::Reply reply = c.request(request, kReplyMs);
        EXPECT_EQ(fields(reply), "error=Not Supported;") << request;
    }
}

TEST_F(LoggedOnFraming, EmptyPayloadIsAnsweredWithMessageIdZero) {
    BrokerConnection c = broker.connect();
    sendHeader(c, kFrameMagic, kFrameVersion, 12, 0);
    BrokerConnection::Reply reply = c.receive(kReplyMs);
    EXPECT_EQ(reply.messageId, 0u);
    EXPECT_EQ(fields(reply), "error=Not Supported;");
}

}  // namespace
