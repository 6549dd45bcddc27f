// SPDX-License-Identifier: MIT
#include "channel/shared_memory_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "channel/broker_context.h"
#include "channel/channel_test_support.h"
#include "codec/frame.h"
#include "foundation/ks_exception.h"
#include "foundation/ks_string_test_support.h"

namespace {

using channeltest::ConnectedPipe;
using ks_test::messageOf;

class TestChannel : public CSharedMemoryChannel {
  public:
    using CSharedMemoryChannel::CSharedMemoryChannel;
    const char* name() override { return "test"; }
};

TEST(SharedMemoryChannel, SendWritesFiveFieldsAndThePayloadAsSixMessages) {
    ConnectedPipe pipe("send");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    CMessage message;
    message.setForSend(77, reinterpret_cast<const uint8_t*>("hello"), 5);
    channel.send(message);
    channeltest::ClientFrame frame = channeltest::readFrame(pipe.client);
    EXPECT_EQ(frame.magic, 0xFFFE00FFu);
    EXPECT_EQ(frame.version, 0x00010000u);
    EXPECT_EQ(frame.processId, GetCurrentProcessId());
    EXPECT_EQ(frame.messageId, 77u);
    EXPECT_EQ(frame.length, 5u);
    EXPECT_EQ(frame.payload, "hello");
}

TEST(SharedMemoryChannel, EmptyMessageSendsAnEmptyPayloadMessage) {
    ConnectedPipe pipe("send-empty");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    CMessage message;
    channel.send(message);
    channeltest::ClientFrame frame = channeltest::readFrame(pipe.client);
    EXPECT_EQ(frame.length, 0u);
    EXPECT_EQ(frame.messageId, 0u);
    EXPECT_TRUE(frame.payload.empty());
}

TEST(SharedMemoryChannel, ReceiveAppendsANulAndKeepsTheHeaderIds) {
    ConnectedPipe pipe("recv");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    channeltest::writeFrame(pipe.client, 9, "abc");
    CMessage message;
    channel.receive(message);
    EXPECT_EQ(message.messageId(), 9u);
    EXPECT_EQ(message.processId(), 4242u);
    ASSERT_EQ(message.length(), 4u);
    EXPECT_EQ(std::memcmp(message.data(), "abc\0", 4), 0);
}

TEST(SharedMemoryChannel, PumpingReceiveReadsTheSameFrameAndIsInterruptible) {
    ConnectedPipe pipe("pump");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    std::thread writer([&] {
        Sleep(20);  // so the payload read is pending when it arrives
        channeltest::writeFrame(pipe.client, 8, "pumped");
    });
    CMessage message;
    channel.receiveWithPump(message);
    writer.join();
    EXPECT_EQ(message.messageId(), 8u);
    EXPECT_EQ(std::memcmp(message.data(), "pumped\0", 7), 0);
    SetEvent(context.interruptEvent);
    EXPECT_THROW(channel.receiveWithPump(message), CInterruptedExeception);
}

TEST(SharedMemoryChannel, WrongMagicConsumesTheHeaderThenFails) {
    ConnectedPipe pipe("magic");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    channeltest::writeFrame(pipe.client, 1, "", 0x12345678u);
    channeltest::writeFrame(pipe.client, 2, "ok");
    CMessage message;
    try {
        channel.receive(message);
        FAIL() << "no exception";
    } catch (const CMessageException& e) {
        EXPECT_EQ(messageOf(e), "Invalid Message Header");
    }
    // The bad frame's empty payload message is read as the next magic.
    try {
        channel.receive(message);
        FAIL() << "no exception";
    } catch (const CMessageException& e) {
        EXPECT_EQ(messageOf(e), "Invalid Message Header");
    }
}

TEST(SharedMemoryChannel, WrongVersionFails) {
    ConnectedPipe pipe("version");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    channeltest::writeFrame(pipe.client, 1, "x", 0xFFFE00FFu, 0x00020000u);
    CMessage message;
    try {
        channel.receive(message);
        FAIL() << "no exception";
    } catch (const CMessageException& e) {
        EXPECT_EQ(messageOf(e), "Invalid Message Version");
    }
}

TEST(SharedMemoryChannel, ZeroLengthLeavesTheMessageAsItWas) {
    ConnectedPipe pipe("zero");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    for (uint32_t field : {0xFFFE00FFu, 0x00010000u, 4242u, 5u, 0u}) {
        channeltest::writeField(pipe.client, field);
    }
    CMessage message;
    channel.receive(message);
    EXPECT_EQ(message.messageId(), 0u);
    EXPECT_EQ(message.processId(), GetCurrentProcessId());
    EXPECT_EQ(message.length(), 0u);
    EXPECT_EQ(message.data(), nullptr);
}

TEST(SharedMemoryChannel, LengthOverTheRequestLimitFailsUnread) {
    for (uint32_t length : {codec::kRequestMaxLength + 1, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        ConnectedPipe pipe("huge");
        CBrokerContext context;
        TestChannel channel("x", pipe.server, &context);
        for (uint32_t field : {0xFFFE00FFu, 0x00010000u, 4242u, 5u, length}) {
            channeltest::writeField(pipe.client, field);
        }
        channeltest::writeMessage(pipe.client, "the start of it", 15);
        CMessage message;
        try {
            channel.receive(message);
            ADD_FAILURE() << "no exception for " << length;
        } catch (const CInterruptedExeception&) {
            ADD_FAILURE() << "an oversized request is a failure, not an interruption";
        } catch (const CMessageException& e) {
            EXPECT_EQ(messageOf(e), "Request too large") << length;
        }
        // Nothing of the payload was read.
        DWORD available = 0;
        EXPECT_TRUE(PeekNamedPipe(pipe.server, nullptr, 0, nullptr, &available, nullptr));
        EXPECT_EQ(available, 15u);
    }
}

TEST(SharedMemoryChannel, ShortPayloadLeavesZerosBehindIt) {
    ConnectedPipe pipe("short");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    for (uint32_t field : {0xFFFE00FFu, 0x00010000u, 4242u, 3u, 10u}) {
        channeltest::writeField(pipe.client, field);
    }
    channeltest::writeMessage(pipe.client, "xyz", 3);
    CMessage message;
    channel.receive(message);
    ASSERT_EQ(message.length(), 11u);
    EXPECT_EQ(std::memcmp(message.data(), "xyz\0\0\0\0\0\0\0\0", 11), 0);
}

// Past the first read's buffer the payload arrives in several reads of one
// message; every byte lands where it belongs.
TEST(SharedMemoryChannel, PayloadLongerThanTheFirstReadArrivesWhole) {
    ConnectedPipe pipe("long");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    std::string payload(300u * 1024u + 7u, '\0');
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>('a' + i % 23);
    }
    // The pipe holds less than the payload: the writer waits for the reads.
    std::thread writer([&] { channeltest::writeFrame(pipe.client, 6, payload); });
    CMessage message;
    channel.receive(message);
    writer.join();
    ASSERT_EQ(message.length(), payload.size() + 1);
    EXPECT_EQ(std::memcmp(message.data(), payload.data(), payload.size()), 0);
    EXPECT_EQ(message.data()[payload.size()], 0);
}

// A short payload past the first read: zeros follow the bytes that came.
TEST(SharedMemoryChannel, LongShortPayloadLeavesZerosBehindIt) {
    ConnectedPipe pipe("long-short");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    const uint32_t announced = 1u << 20;
    std::string payload(100u * 1024u, 'q');
    std::thread writer([&] {
        for (uint32_t field : {0xFFFE00FFu, 0x00010000u, 4242u, 3u, announced}) {
            channeltest::writeField(pipe.client, field);
        }
        channeltest::writeMessage(pipe.client, payload.data(), static_cast<DWORD>(payload.size()));
    });
    CMessage message;
    channel.receive(message);
    writer.join();
    ASSERT_EQ(message.length(), announced + 1);
    EXPECT_EQ(std::memcmp(message.data(), payload.data(), payload.size()), 0);
    const std::vector<uint8_t> zeros(announced + 1 - payload.size(), 0);
    EXPECT_EQ(std::memcmp(message.data() + payload.size(), zeros.data(), zeros.size()), 0);
}

// A payload message longer than its frame announced is a broken frame, at
// the first read as well as after the buffer has grown.
TEST(SharedMemoryChannel, PayloadLongerThanAnnouncedFails) {
    for (uint32_t announced : {10u, 200u * 1024u}) {
        ConnectedPipe pipe("overlong");
        CBrokerContext context;
        TestChannel channel("x", pipe.server, &context);
        const std::string payload(announced + 1, 'z');
        std::thread writer([&] {
            for (uint32_t field : {0xFFFE00FFu, 0x00010000u, 4242u, 3u, announced}) {
                channeltest::writeField(pipe.client, field);
            }
            DWORD written = 0;
            // Fails once the channel ends the connection; that is the point.
            WriteFile(pipe.client, payload.data(), static_cast<DWORD>(payload.size()), &written,
                      nullptr);
        });
        CMessage message;
        try {
            channel.receive(message);
            ADD_FAILURE() << "no exception for " << announced;
        } catch (const CInterruptedExeception&) {
            ADD_FAILURE() << "an overlong payload is a failure, not an interruption";
        } catch (const CMessageException&) {
        }
        channel.close();
        writer.join();
    }
}

TEST(SharedMemoryChannel, InterruptEventEndsAPendingRead) {
    ConnectedPipe pipe("interrupt");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    std::thread interrupter([&] {
        Sleep(50);
        SetEvent(context.interruptEvent);
    });
    CMessage message;
    EXPECT_THROW(channel.receive(message), CInterruptedExeception);
    interrupter.join();
}

TEST(SharedMemoryChannel, ClientClosingEndsAPendingRead) {
    ConnectedPipe pipe("client-gone");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    std::thread closer([&] {
        Sleep(50);
        pipe.closeClient();
    });
    CMessage message;
    EXPECT_THROW(channel.receive(message), CInterruptedExeception);
    closer.join();
    EXPECT_FALSE(channel.isConnected());
}

TEST(SharedMemoryChannel, CloseIsOnceAndLaterSendsAreInterrupted) {
    ConnectedPipe pipe("close");
    CBrokerContext context;
    TestChannel channel("x", pipe.server, &context);
    EXPECT_TRUE(channel.isConnected());
    std::thread other([&] { channel.close(); });
    channel.close();
    other.join();
    channel.close();
    EXPECT_EQ(channel.pipeHandle(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(channel.isConnected());
    CMessage message;
    EXPECT_THROW(channel.send(message), CInterruptedExeception);
    try {
        channel.receive(message);
        FAIL() << "no exception";
    } catch (const CInterruptedExeception&) {
        FAIL() << "a read on a closed channel is refused, not interrupted";
    } catch (const CMessageException& e) {
        EXPECT_EQ(messageOf(e), "Read Error");
    }
}

TEST(SharedMemoryChannel, PipePathPrefixesTheName) {
    ConnectedPipe pipe("path");
    CBrokerContext context;
    TestChannel channel("abc", pipe.server, &context);
    KsString path(channel.pipePath());
    EXPECT_STREQ(path.utf8View(), "\\\\.\\pipe\\abc");
}

}  // namespace
