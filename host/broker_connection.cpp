// SPDX-License-Identifier: MIT
#include "host/broker_connection.h"

#include <chrono>
#include <optional>
#include <utility>

#include "codec/frame.h"
#include "codec/query_record.h"
#include "foundation/ks_exception.h"
#include "host/host_error.h"
#include "host/pipe_folder.h"

namespace {

// The Broker never sends a reply of 0x10000000 bytes or more.
constexpr uint32_t kMaxReplyLength = 0x0FFFFFFFu;

std::string errorText(const char* what, DWORD code) {
    return std::string(what) + " (error " + std::to_string(code) + ")";
}

uint32_t millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    // Rounded up, so that a caller's time-out is never cut short.
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

class Event {
  public:
    Event() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        if (handle_ == nullptr) {
            DWORD error = GetLastError();
            throw HostError(HostError::Kind::Io, errorText("cannot create an event", error), error);
        }
    }
    ~Event() { CloseHandle(handle_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

}  // namespace

std::string BrokerConnection::Reply::value(const char* key) const {
    auto it = values.find(KsString(key));
    if (it == values.end()) {
        return "<absent>";
    }
    KsString v(it->second);
    return v.utf8View();
}

BrokerConnection BrokerConnection::open(const std::string& pipeName, uint32_t timeoutMs) {
    std::string path = "\\\\.\\pipe\\" + pipeName;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        HANDLE pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        DWORD error = GetLastError();
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
                error = GetLastError();
                CloseHandle(pipe);
                throw HostError(HostError::Kind::Io,
                                errorText("cannot switch the pipe to message mode", error), error);
            }
            return BrokerConnection(pipe);
        }
        uint32_t left = millisecondsLeft(deadline);
        if (error == ERROR_ACCESS_DENIED) {
            // The platform layer refuses every pipe in a folder others may
            // use; that is no verdict on this user, and no Broker can serve
            // there either.
            if (std::optional<std::string> unsafe = unsafePipeFolder()) {
                throw HostError(HostError::Kind::UnsafeFolder, *unsafe, error);
            }
            throw HostError(HostError::Kind::AccessDenied,
                            "access to pipe " + path + " is denied to this user", error);
        }
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PIPE_BUSY) {
            throw HostError(HostError::Kind::Io,
                            errorText(("cannot open pipe " + path).c_str(), error), error);
        }
        if (left == 0) {
            throw HostError(
                error == ERROR_PIPE_BUSY ? HostError::Kind::Timeout : HostError::Kind::NotFound,
                error == ERROR_PIPE_BUSY ? "pipe " + path + " stayed busy" : "no pipe " + path,
                error);
        }
        // A missing pipe gives WaitNamedPipeA nothing to wait on; a busy one does.
        if (error == ERROR_PIPE_BUSY) {
            WaitNamedPipeA(path.c_str(), left < 50 ? left : 50);
        } else {
            Sleep(left < 5 ? left : 5);
        }
    }
}

BrokerConnection::BrokerConnection(BrokerConnection&& other) noexcept
    : pipe_(std::exchange(other.pipe_, INVALID_HANDLE_VALUE)),
      nextMessageId_(other.nextMessageId_) {}

BrokerConnection& BrokerConnection::operator=(BrokerConnection&& other) noexcept {
    if (this != &other) {
        close();
        pipe_ = std::exchange(other.pipe_, INVALID_HANDLE_VALUE);
        nextMessageId_ = other.nextMessageId_;
    }
    return *this;
}

BrokerConnection::~BrokerConnection() {
    close();
}

void BrokerConnection::close() {
    if (pipe_ != INVALID_HANDLE_VALUE) {
        CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
    }
}

bool BrokerConnection::peek(uint32_t* available) {
    DWORD total = 0;
    bool connected = isOpen() && PeekNamedPipe(pipe_, nullptr, 0, nullptr, &total, nullptr);
    if (available != nullptr) {
        *available = connected ? total : 0;
    }
    return connected;
}

void BrokerConnection::writeMessage(const void* bytes, uint32_t count) {
    if (!isOpen()) {
        throw HostError(HostError::Kind::Disconnected, "the connection is closed");
    }
    Event event;
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD written = 0;
    if (WriteFile(pipe_, bytes, count, &written, &ov)) {
        return;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        // A write waits only while the Broker's side is full; it has no time-out,
        // like the Broker's own writes.
        if (GetOverlappedResult(pipe_, &ov, &written, TRUE)) {
            return;
        }
        error = GetLastError();
    }
    if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
        close();
        throw HostError(HostError::Kind::Disconnected, "the Broker closed the connection", error);
    }
    throw HostError(HostError::Kind::Io, errorText("cannot write to the pipe", error), error);
}

uint32_t BrokerConnection::readMessage(void* bytes, uint32_t capacity, uint32_t timeoutMs) {
    if (!isOpen()) {
        throw HostError(HostError::Kind::Disconnected, "the connection is closed");
    }
    Event event;
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD done = 0;
    BOOL ok = ReadFile(pipe_, bytes, capacity, &done, &ov);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
        if (WaitForSingleObject(event.get(), timeoutMs) == WAIT_TIMEOUT) {
            // Closing ends the pending read; its OVERLAPPED must outlive that end.
            close();
            WaitForSingleObject(event.get(), INFINITE);
            throw HostError(HostError::Kind::Timeout,
                            "no reply within " + std::to_string(timeoutMs) + " ms");
        }
        ok = GetOverlappedResult(pipe_, &ov, &done, FALSE);
        error = ok ? ERROR_SUCCESS : GetLastError();
    }
    if (ok) {
        return done;
    }
    if (error == ERROR_MORE_DATA) {
        close();
        throw HostError(HostError::Kind::Protocol,
                        "a reply message is longer than " + std::to_string(capacity) + " bytes",
                        error);
    }
    close();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
        throw HostError(HostError::Kind::Disconnected, "the Broker closed the connection", error);
    }
    throw HostError(HostError::Kind::Io, errorText("cannot read from the pipe", error), error);
}

void BrokerConnection::writeWord(uint32_t value) {
    const codec::FrameWord bytes = codec::encodeFrameWord(value);
    writeMessage(bytes.data(), codec::kFrameWordBytes);
}

uint32_t BrokerConnection::send(const std::string& payload) {
    // The Broker ends a connection whose request is longer without reading it.
    if (payload.size() > codec::kRequestMaxLength) {
        throw HostError(HostError::Kind::Protocol,
                        "the request is " + std::to_string(payload.size()) +
                            " bytes, more than the " +
                            std::to_string(codec::kRequestMaxLength >> 20) +
                            " MiB a Broker takes");
    }
    codec::FrameHeader header;
    header.processId = GetCurrentProcessId();
    header.messageId = nextMessageId_++;
    header.length = static_cast<uint32_t>(payload.size());
    for (uint32_t word : codec::frameWords(header)) {
        writeWord(word);
    }
    writeMessage(payload.data(), header.length);
    return header.messageId;
}

BrokerConnection::Reply BrokerConnection::receive(uint32_t timeoutMs) {
    codec::FrameWords words;
    for (size_t i = 0; i < words.size(); ++i) {
        codec::FrameWord bytes{};
        // Only the first field waits for the Broker; the rest follow at once.
        uint32_t n = readMessage(bytes.data(), codec::kFrameWordBytes, i == 0 ? timeoutMs : 5000);
        if (n != codec::kFrameWordBytes) {
            close();
            throw HostError(HostError::Kind::Protocol,
                            "a reply header field is " + std::to_string(n) + " bytes, not 4");
        }
        words[i] = codec::decodeFrameWord(bytes.data());
    }
    const codec::FrameDecodeResult frame = codec::decodeFrameWords(words);
    if (frame.error == codec::FrameError::BadMagic ||
        frame.error == codec::FrameError::BadVersion) {
        close();
        throw HostError(HostError::Kind::Protocol, "the reply's frame header is not valid");
    }
    // Stricter than the frame's own limit, which it also covers.
    const uint32_t length = frame.header.length;
    if (!frame.ok() || length > kMaxReplyLength) {
        close();
        throw HostError(HostError::Kind::Protocol,
                        "the reply announces " + std::to_string(length) + " bytes");
    }
    Reply reply;
    reply.processId = frame.header.processId;
    reply.messageId = frame.header.messageId;
    reply.text.resize(length);
    uint32_t n = readMessage(reply.text.data(), length, 5000);
    if (n != length) {
        close();
        throw HostError(HostError::Kind::Protocol, "the reply's payload is " + std::to_string(n) +
                                                       " bytes, not " + std::to_string(length));
    }
    QueryRecord record;
    try {
        record.decode(KsString(reply.text.data(), static_cast<int64_t>(reply.text.size())));
    } catch (const KsException& e) {
        KsString message = e.getMessage();
        throw HostError(HostError::Kind::Protocol,
                        std::string("the reply cannot be decoded: ") + message.utf8View());
    }
    reply.name = record.name;
    reply.values = std::move(record.params);
    return reply;
}

BrokerConnection::Reply BrokerConnection::request(const std::string& payload, uint32_t timeoutMs) {
    uint32_t id = send(payload);
    Reply reply = receive(timeoutMs);
    if (reply.messageId != id) {
        close();
        throw HostError(HostError::Kind::Protocol, "the reply carries message id " +
                                                       std::to_string(reply.messageId) +
                                                       ", the request " + std::to_string(id));
    }
    return reply;
}
