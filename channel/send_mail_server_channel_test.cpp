// SPDX-License-Identifier: MIT
#include "channel/send_mail_server_channel.h"

#include <gtest/gtest.h>

#include <string>

#include "channel/broker_context.h"
#include "channel/channel_test_support.h"
#include "codec/query_record.h"
#include "foundation/ks_exception.h"
#include "pal/scoped_handle.h"
#include "commands/fakes/fake_mapi_fixture.h"

namespace {

using channeltest::ConnectedPipe;

// Loads a chosen library in place of mapi32.dll (which, beside these tests,
// is the recording stand-in).
class TestServerChannel : public CSendMailServerChannel {
  public:
    TestServerChannel(HANDLE pipe, CBrokerContext* context, const char* library = "mapi32.dll")
        : CSendMailServerChannel("test", pipe, context, nullptr), library_(library) {}

    // Set (when given) as the channel starts a read: its check of the stop
    // flag is then behind it.
    HANDLE readingEvent = nullptr;

    void receive(CMessage& message) override {
        if (readingEvent != nullptr) {
            SetEvent(readingEvent);
        }
        CSendMailServerChannel::receive(message);
    }

  protected:
    const char* mapiLibraryName() const override { return library_; }

  private:
    const char* library_;
};

class ServerChannelTest : public FakeMapiTest {
  protected:
    static void setRequest(CMessage& request, uint32_t id, const std::string& text) {
        // As receive leaves it: the payload and a NUL.
        request.setFromFrame(id, 4242, reinterpret_cast<const uint8_t*>(text.c_str()),
                             static_cast<uint32_t>(text.size() + 1));
    }

    static QueryRecord replyOf(const CMessage& response) {
        QueryRecord reply;
        reply.decode(KsString(reinterpret_cast<const char*>(response.data()),
                              static_cast<int64_t>(response.length())));
        return reply;
    }

    static std::string value(QueryRecord& record, const char* key) {
        auto found = record.params.find(KsString(key));
        if (found == record.params.end()) {
            return "<absent>";
        }
        KsString text(found->second);
        return text.utf8View();
    }

    CBrokerContext context_;
};

TEST_F(ServerChannelTest, UnknownCommandAfterLogonIsNotSupported) {
    ConnectedPipe pipe("unknown");
    TestServerChannel channel(pipe.server, &context_);
    CMessage request, response;
    setRequest(request, 31, "Bogus?a=1");
    channel.handleRequest(request, response);
    EXPECT_EQ(response.messageId(), 31u);
    EXPECT_EQ(response.processId(), GetCurrentProcessId());
    QueryRecord reply = replyOf(response);
    EXPECT_STREQ(KsString(reply.name).utf8View(), "SendMailResponse");
    EXPECT_EQ(reply.params.size(), 1u);
    EXPECT_EQ(value(reply, "error"), "Not Supported");
    EXPECT_EQ(state_->logonCalls, 1);
    EXPECT_EQ(state_->logoffCalls, 1) << "the session is gone before the reply is sent";
}

TEST_F(ServerChannelTest, MissingMapiGivesOnlyTheStatus) {
    ConnectedPipe pipe("nomapi");
    TestServerChannel channel(pipe.server, &context_, "no_such_mapi_library.dll");
    CMessage request, response;
    setRequest(request, 2, "SendMail?to=a");
    channel.handleRequest(request, response);
    QueryRecord reply = replyOf(response);
    EXPECT_EQ(reply.params.size(), 1u);
    EXPECT_EQ(value(reply, "error"), "-2147221246");
}

TEST_F(ServerChannelTest, FailedLogonStatusIsTheErrorInDecimal) {
    ConnectedPipe pipe("logon");
    TestServerChannel channel(pipe.server, &context_);
    state_->logonResult = MAPI_E_USER_CANCEL;
    CMessage request, response;
    setRequest(request, 2, "Anything");
    channel.handleRequest(request, response);
    QueryRecord reply = replyOf(response);
    EXPECT_EQ(reply.params.size(), 1u);
    EXPECT_EQ(value(reply, "error"), std::to_string(static_cast<int32_t>(MAPI_E_USER_CANCEL)));
}

TEST_F(ServerChannelTest, EmptyRequestIsAnsweredWithMessageIdZero) {
    ConnectedPipe pipe("empty");
    TestServerChannel channel(pipe.server, &context_);
    CMessage request, response;
    channel.handleRequest(request, response);
    EXPECT_EQ(response.messageId(), 0u);
    QueryRecord reply = replyOf(response);
    EXPECT_EQ(value(reply, "error"), "Not Supported");
}

TEST_F(ServerChannelTest, MalformedEscapeThrowsBeforeAnyMapi) {
    ConnectedPipe pipe("escape");
    TestServerChannel channel(pipe.server, &context_);
    CMessage request, response;
    setRequest(request, 2, "SendMail?to=%zz");
    EXPECT_THROW(channel.handleRequest(request, response), KsException);
    EXPECT_EQ(state_->initializeCalls, 0);
    EXPECT_EQ(response.length(), 0u);
}

TEST_F(ServerChannelTest, ServesRequestsInOrderUntilTheClientLeaves) {
    ConnectedPipe pipe("serve");
    TestServerChannel channel(pipe.server, &context_);
    channel.start();
    channeltest::writeFrame(pipe.client, 11, "First");
    channeltest::writeFrame(pipe.client, 12, "Second");
    channeltest::ClientFrame first = channeltest::readFrame(pipe.client);
    channeltest::ClientFrame second = channeltest::readFrame(pipe.client);
    EXPECT_EQ(first.messageId, 11u);
    EXPECT_EQ(second.messageId, 12u);
    EXPECT_EQ(first.processId, GetCurrentProcessId());
    EXPECT_EQ(first.payload, "SendMailResponse?error=Not%20Supported");
    pipe.closeClient();
    channel.join();
    EXPECT_EQ(state_->logonCalls, 2);
    EXPECT_EQ(state_->logoffCalls, 2);
    EXPECT_EQ(channel.pipeHandle(), INVALID_HANDLE_VALUE) << "the channel closed its end";
}

TEST_F(ServerChannelTest, MalformedRequestEndsTheThreadWithThePipeOpen) {
    ConnectedPipe pipe("malformed");
    TestServerChannel channel(pipe.server, &context_);
    channel.start();
    channeltest::writeFrame(pipe.client, 1, "X?a=%4");
    channel.join();
    EXPECT_NE(channel.pipeHandle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(channel.isConnected());
    DWORD available = 1;
    EXPECT_TRUE(PeekNamedPipe(pipe.client, nullptr, 0, nullptr, &available, nullptr));
    EXPECT_EQ(available, 0u) << "no reply was sent";
}

TEST_F(ServerChannelTest, BadHeaderClosesThePipe) {
    ConnectedPipe pipe("badheader");
    TestServerChannel channel(pipe.server, &context_);
    channel.start();
    // Only the five header fields: the channel closes the pipe after reading
    // them, so a payload written after them may find the pipe gone.
    for (uint32_t field : {0xDEADBEEFu, 0x00010000u, 4242u, 1u, 1u}) {
        channeltest::writeField(pipe.client, field);
    }
    channel.join();
    EXPECT_EQ(channel.pipeHandle(), INVALID_HANDLE_VALUE);
}

TEST_F(ServerChannelTest, StopRequestedEndsTheLoopBeforeTheNextRead) {
    ConnectedPipe pipe("stop");
    TestServerChannel channel(pipe.server, &context_);
    context_.stopRequested = 1;
    channeltest::writeFrame(pipe.client, 1, "Bogus");
    channel.start();
    channel.join();
    EXPECT_EQ(state_->initializeCalls, 0);
    EXPECT_NE(channel.pipeHandle(), INVALID_HANDLE_VALUE) << "the pipe is left open";
}

TEST_F(ServerChannelTest, ShutdownInterruptsAnIdleConnection) {
    ConnectedPipe pipe("shutdown");
    TestServerChannel channel(pipe.server, &context_);
    // Not a fixed pause: a thread that has not reached its read yet (Wine
    // starts threads slowly) would see the stop flag and leave the pipe open.
    const mb::ScopedHandle reading(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(reading);
    channel.readingEvent = reading.get();
    channel.start();
    ASSERT_EQ(WaitForSingleObject(reading.get(), 10000), WAIT_OBJECT_0);
    context_.requestShutdown();
    channel.join();
    EXPECT_EQ(channel.pipeHandle(), INVALID_HANDLE_VALUE);
}

}  // namespace
