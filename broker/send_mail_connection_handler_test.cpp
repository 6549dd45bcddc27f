// SPDX-License-Identifier: MIT
#include "broker/send_mail_connection_handler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "channel/broker_context.h"
#include "broker/broker_main.h"
#include "broker/broker_test_support.h"
#include "channel/channel_test_support.h"
#include "channel/send_mail_server_channel.h"

namespace {

using brokertest::CountingSecurity;
using brokertest::HostProcess;
using channeltest::ConnectedPipe;

class HandlerTest : public ::testing::Test {
  protected:
    CBrokerContext context_;
    CSendMailConnectionHandler handler_{&context_, KsString("\\\\.\\pipe\\unused"),
                                        KsString("0"), CountingSecurity::policy()};

    // Waits until the registry's channels have all seen their client leave.
    static void settle() { Sleep(50); }
};

TEST_F(HandlerTest, ServedClientStaysRegisteredUntilTheNextConnection) {
    ConnectedPipe first("reap-first");
    handler_.onConnect(first.server, &context_);
    channeltest::writeFrame(first.client, 5, "Hello");
    EXPECT_EQ(channeltest::readFrame(first.client).messageId, 5u);
    first.closeClient();
    settle();
    EXPECT_EQ(handler_.channelCount(), 1u);

    ConnectedPipe second("reap-second");
    handler_.onConnect(second.server, &context_);
    EXPECT_EQ(handler_.channelCount(), 1u) << "the first channel was reaped";
    channeltest::writeFrame(second.client, 6, "Hello");
    EXPECT_EQ(channeltest::readFrame(second.client).messageId, 6u);
}

TEST_F(HandlerTest, ConnectedClientsAreNotReaped) {
    ConnectedPipe a("live-a");
    ConnectedPipe b("live-b");
    handler_.onConnect(a.server, &context_);
    handler_.onConnect(b.server, &context_);
    handler_.reapClosedChannels();
    EXPECT_EQ(handler_.channelCount(), 2u);
    // Both are served at once.
    channeltest::writeFrame(b.client, 2, "B");
    channeltest::writeFrame(a.client, 1, "A");
    EXPECT_EQ(channeltest::readFrame(a.client).messageId, 1u);
    EXPECT_EQ(channeltest::readFrame(b.client).messageId, 2u);
}

TEST_F(HandlerTest, NewChannelWhoseClientIsGoneIsStartedBeforeItIsReaped) {
    ConnectedPipe gone("gone");
    gone.closeClient();
    handler_.onConnect(gone.server, &context_);
    EXPECT_EQ(handler_.channelCount(), 1u);
    settle();
    handler_.reapClosedChannels();
    EXPECT_EQ(handler_.channelCount(), 0u);
}

TEST_F(HandlerTest, MalformedRequestKeepsTheChannelUntilItsClientLeaves) {
    ConnectedPipe bad("malformed");
    handler_.onConnect(bad.server, &context_);
    channeltest::writeFrame(bad.client, 1, "X?a=%zz");
    settle();
    handler_.reapClosedChannels();
    EXPECT_EQ(handler_.channelCount(), 1u);
    bad.closeClient();
    handler_.reapClosedChannels();
    EXPECT_EQ(handler_.channelCount(), 0u);
}

TEST_F(HandlerTest, ShutdownEndsIdleChannels) {
    ConnectedPipe a("idle-a");
    ConnectedPipe b("idle-b");
    handler_.onConnect(a.server, &context_);
    handler_.onConnect(b.server, &context_);
    context_.requestShutdown();
    handler_.closeAllChannels();
    EXPECT_EQ(handler_.channelCount(), 0u);
    handler_.closeAllChannels();
}

TEST(BrokerRun, EndsWithinASecondOfTheHostEvenWithAnIdleClient) {
    HostProcess host;
    const std::string name = brokertest::uniqueName("run");
    const std::string line = "/path/mailbroker --ipc=" + name + " --proc=" + host.idText();
    std::chrono::steady_clock::time_point returned;
    int code = -1;
    std::thread broker([&] {
        code = runBroker(line.c_str(), CountingSecurity::policy());
        returned = std::chrono::steady_clock::now();
    });
    HANDLE idle = brokertest::connectClient(brokertest::pipePath(name));
    channeltest::writeFrame(idle, 3, "AutoCompleteFileName");
    EXPECT_EQ(channeltest::readFrame(idle).messageId, 3u);
    const auto ended = std::chrono::steady_clock::now();
    host.end();
    broker.join();
    EXPECT_EQ(code, 0);
    EXPECT_LT(returned - ended, std::chrono::seconds(1));
    EXPECT_EQ(CountingSecurity::released(), 1);
    CloseHandle(idle);
}

TEST(BrokerRun, MissingMarkersOrBadPipeNameExitZeroWithoutAPipe) {
    EXPECT_EQ(runBroker("prog --proc=1 --ipc=x", CountingSecurity::policy()), 0);
    EXPECT_EQ(CountingSecurity::created(), 0) << "no pipe before both values are known";
    HostProcess host;
    const std::string empty = "prog --ipc= --proc=" + host.idText();
    EXPECT_EQ(runBroker(empty.c_str(), CountingSecurity::policy()), 0);
    EXPECT_EQ(CountingSecurity::released(), 1);
}

}  // namespace
