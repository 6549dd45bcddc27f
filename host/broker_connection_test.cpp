// SPDX-License-Identifier: MIT
// The client's side of the frame against a scripted server on a real pipe.
#include "host/broker_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "codec/frame.h"
#include "host/broker_host.h"
#include "host/host_error.h"

namespace {

using Kind = HostError::Kind;

// A pipe server on its own thread running `script` on the connected instance.
class ScriptedServer {
  public:
    explicit ScriptedServer(std::function<void(HANDLE)> script)
        : name_(BrokerHost::freshPipeName()) {
        std::string path = "\\\\.\\pipe\\" + name_;
        pipe_ = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                 4096, 0, nullptr);
        EXPECT_NE(pipe_, INVALID_HANDLE_VALUE);
        thread_ = std::thread([this, script] {
            if (ConnectNamedPipe(pipe_, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
                script(pipe_);
            }
        });
    }
    ~ScriptedServer() {
        thread_.join();
        CloseHandle(pipe_);
    }
    const std::string& name() const { return name_; }

  private:
    std::string name_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    std::thread thread_;
};

uint32_t readWord(HANDLE pipe) {
    codec::FrameWord b{};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(pipe, b.data(), codec::kFrameWordBytes, &n, nullptr));
    EXPECT_EQ(n, codec::kFrameWordBytes);
    return codec::decodeFrameWord(b.data());
}

// A client that refuses a reply closes its end at once, so the rest of a
// malformed reply may meet a broken pipe; everything else must be written.
bool gClientMayLeave = false;

void writeBytes(HANDLE pipe, const void* bytes, uint32_t n) {
    DWORD written = 0;
    const BOOL ok = WriteFile(pipe, bytes, n, &written, nullptr);
    EXPECT_TRUE(ok || (gClientMayLeave && (GetLastError() == ERROR_BROKEN_PIPE ||
                                             GetLastError() == ERROR_NO_DATA)))
        << GetLastError();
}

void writeWord(HANDLE pipe, uint32_t v) {
    const codec::FrameWord b = codec::encodeFrameWord(v);
    writeBytes(pipe, b.data(), codec::kFrameWordBytes);
}

struct Request {
    uint32_t words[5] = {};
    std::string payload;
};

Request readRequest(HANDLE pipe) {
    Request r;
    for (uint32_t& w : r.words) {
        w = readWord(pipe);
    }
    r.payload.resize(r.words[4]);
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(pipe, r.payload.data(), r.words[4], &n, nullptr));
    EXPECT_EQ(n, r.words[4]);
    return r;
}

void writeReply(HANDLE pipe, uint32_t messageId, const std::string& text,
                uint32_t magic = codec::kFrameMagic) {
    writeWord(pipe, magic);
    writeWord(pipe, codec::kFrameVersion);
    writeWord(pipe, 4242);
    writeWord(pipe, messageId);
    writeWord(pipe, static_cast<uint32_t>(text.size()));
    writeBytes(pipe, text.data(), static_cast<uint32_t>(text.size()));
}

// Answers every request with `text` and the request's id (plus `idOffset`).
std::function<void(HANDLE)> answering(int count, const std::string& text, uint32_t idOffset = 0) {
    return [=](HANDLE pipe) {
        for (int i = 0; i < count; ++i) {
            Request r = readRequest(pipe);
            writeReply(pipe, r.words[3] + idOffset, text);
        }
    };
}

Kind failureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const HostError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no HostError";
    return Kind::Io;
}

TEST(BrokerConnection, RequestsAreFramedAndRepliesDecoded) {
    std::vector<Request> seen;
    ScriptedServer server([&](HANDLE pipe) {
        for (int i = 0; i < 2; ++i) {
            seen.push_back(readRequest(pipe));
            writeReply(pipe, seen.back().words[3], "SendMailResponse?error=0&result=a%20b");
        }
    });
    BrokerConnection c = BrokerConnection::open(server.name(), 5000);
    BrokerConnection::Reply first = c.request("SendMail?to=x", 5000);
    BrokerConnection::Reply second = c.request("", 5000);
    EXPECT_EQ(first.messageId, 1u);
    EXPECT_EQ(second.messageId, 2u);
    EXPECT_EQ(first.processId, 4242u);
    KsString result(first.values.at(KsString("result")));
    EXPECT_STREQ(result.utf8View(), "a b");
    EXPECT_EQ(first.values.size(), 2u);
    c.close();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].words[0], 0xFFFE00FFu);
    EXPECT_EQ(seen[0].words[1], 0x00010000u);
    EXPECT_EQ(seen[0].words[2], GetCurrentProcessId());
    EXPECT_EQ(seen[0].payload, "SendMail?to=x");
    EXPECT_EQ(seen[1].words[4], 0u);
}

TEST(BrokerConnection, ReplyForAnotherMessageIsRefused) {
    ScriptedServer server(answering(1, "R?error=0", 1));
    BrokerConnection c = BrokerConnection::open(server.name(), 5000);
    EXPECT_EQ(failureOf([&] { c.request("X", 5000); }), Kind::Protocol);
    EXPECT_FALSE(c.isOpen());
}

TEST(BrokerConnection, MalformedRepliesAreRefused) {
    const std::vector<std::function<void(HANDLE)>> replies = {
        [](HANDLE p) {
            readRequest(p);
            writeReply(p, 1, "R?error=0", 0x01020304u);
        },
        [](HANDLE p) {
            readRequest(p);
            writeBytes(p, "12345678", 8);
        },
        [](HANDLE p) {
            readRequest(p);
            writeReply(p, 1, "R?error=%4");
        },
    };
    gClientMayLeave = true;
    for (const auto& reply : replies) {
        ScriptedServer server(reply);
        BrokerConnection c = BrokerConnection::open(server.name(), 5000);
        EXPECT_EQ(failureOf([&] { c.request("X", 5000); }), Kind::Protocol);
    }
}

TEST(BrokerConnection, SilenceTimesOutAndClosedPipeIsDisconnected) {
    ScriptedServer silent([](HANDLE p) {
        readRequest(p);
        Sleep(500);
    });
    BrokerConnection c = BrokerConnection::open(silent.name(), 5000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { c.request("X", 100); }), Kind::Timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_FALSE(c.isOpen());

    ScriptedServer closing([](HANDLE p) {
        readRequest(p);
        DisconnectNamedPipe(p);
    });
    BrokerConnection d = BrokerConnection::open(closing.name(), 5000);
    EXPECT_EQ(failureOf([&] { d.request("X", 5000); }), Kind::Disconnected);
}

TEST(BrokerConnection, MissingPipeIsNotFoundAfterTheTimeOut) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([] { BrokerConnection::open(BrokerHost::freshPipeName(), 150); }),
              Kind::NotFound);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(150));
    EXPECT_LT(took, std::chrono::milliseconds(1000));
}

}  // namespace

// A request the Broker would refuse unread is refused here first, before a
// word of it is written; one of exactly the limit goes out.
TEST(BrokerConnection, RequestOverTheBrokersLimitIsRefusedUnsent) {
    uint32_t announced = 0;
    DWORD firstMessage = 0;
    ScriptedServer server([&](HANDLE pipe) {
        std::vector<uint8_t> buffer(codec::kRequestMaxLength);
        DWORD n = 0;
        if (ReadFile(pipe, buffer.data(), DWORD(buffer.size()), &n, nullptr)) {
            firstMessage = n;
        }
        for (int i = 0; i < 4; ++i) {
            ReadFile(pipe, buffer.data(), DWORD(buffer.size()), &n, nullptr);
        }
        announced = codec::decodeFrameWord(buffer.data());
        ReadFile(pipe, buffer.data(), DWORD(buffer.size()), &n, nullptr);
    });
    BrokerConnection c = BrokerConnection::open(server.name(), 5000);
    std::string payload(codec::kRequestMaxLength + 1, 'x');
    try {
        c.send(payload);
        ADD_FAILURE() << "no exception";
    } catch (const HostError& e) {
        EXPECT_EQ(e.kind(), Kind::Protocol);
        EXPECT_STREQ(e.what(), "the request is 67108865 bytes, more than the 64 MiB a Broker takes");
    }
    payload.pop_back();
    c.send(payload);
    c.close();
    EXPECT_EQ(firstMessage, 4u);  // the first thing the server saw was the good request's magic
    EXPECT_EQ(announced, codec::kRequestMaxLength);
}
