// SPDX-License-Identifier: MIT
// Arbitrary bytes as everything a peer sends down a Broker pipe: the bytes go
// raw onto the socket (length prefixes and all, as a host that does not use
// the platform layer would write them), the peer closes its end, and the
// Broker's channel reads frames until it gives up. What it reads must be what
// a plain reading of the wire contract says, frame by frame, and it must end
// the way that reading says: the peer gone, or a broken frame.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/scoped_fd.h"
#include "channel/broker_context.h"
#include "channel/message.h"
#include "channel/shared_memory_channel.h"
#include "codec/frame.h"
#include "foundation/ks_exception.h"
#include "fuzz/fuzz_check.h"
#include "pal/pipe_internal.h"
#include "pal/win32.h"

namespace {

// A message as the channel hands it out: the bytes that came, then zeros up
// to its length (a payload may come short, and a length may be huge: the
// zeros are counted, never made).
struct Received {
    uint32_t messageId = 0;
    uint32_t processId = 0;
    uint32_t length = 0;
    std::string bytes;
    bool operator==(const Received&) const = default;
};

enum class End { PeerGone, BadFrame };

// The wire contract read plainly: pipe messages of a 32-bit little-endian
// length and that many bytes, read in message mode into buffers the size the
// channel asks for.
class Model {
  public:
    Model(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    enum class Read { Ok, MoreData, Broken };

    Read message(uint32_t bufferSize, std::string& bytes) {
        if (broken_ || size_ - at_ < 4) {
            broken_ = true;
            return Read::Broken;
        }
        const uint32_t length = codec::decodeFrameWord(data_ + at_);
        at_ += 4;
        if (length > 0x80000000u) {  // garbage: the stream is unusable
            broken_ = true;
            return Read::Broken;
        }
        const size_t available = std::min<size_t>(length, size_ - at_);
        if (length <= bufferSize) {
            if (available < length) {
                broken_ = true;  // the peer left in the middle of the message
                return Read::Broken;
            }
            bytes.assign(reinterpret_cast<const char*>(data_ + at_), length);
            at_ += length;
            return Read::Ok;
        }
        if (available >= bufferSize) {
            return Read::MoreData;
        }
        broken_ = true;
        return Read::Broken;
    }

    // The frames the channel should hand out, and how it should stop.
    End frames(std::vector<Received>& out) {
        for (;;) {
            codec::FrameWords words{};
            for (uint32_t& word : words) {
                std::string bytes;
                const Read read = message(4, bytes);
                if (read != Read::Ok) {
                    return read == Read::Broken ? End::PeerGone : End::BadFrame;
                }
                uint8_t padded[4] = {};
                std::memcpy(padded, bytes.data(), bytes.size());  // a short word reads as zeros
                word = codec::decodeFrameWord(padded);
            }
            const codec::FrameDecodeResult frame = codec::decodeFrameWords(words);
            if (frame.error == codec::FrameError::BadMagic ||
                frame.error == codec::FrameError::BadVersion) {
                return End::BadFrame;
            }
            const uint32_t length = frame.header.length;
            if (length > codec::kRequestMaxLength) {
                return End::BadFrame;  // no request is this long: the connection ends
            }
            if (length == 0) {
                // Answered as a frame without payload: the message as it was made.
                out.push_back({0, GetCurrentProcessId(), 0, ""});
                continue;
            }
            std::string payload;
            const Read read = message(length, payload);
            if (read != Read::Ok) {
                return read == Read::Broken ? End::PeerGone : End::BadFrame;
            }
            // Zeros where the payload came short, and the terminating NUL.
            out.push_back({frame.header.messageId, frame.header.processId, length + 1, payload});
        }
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    bool broken_ = false;
};

class FuzzChannel : public CSharedMemoryChannel {
  public:
    using CSharedMemoryChannel::CSharedMemoryChannel;
    const char* name() override { return "fuzz"; }
};

// The client end: a plain socket speaking the wire contract by hand.
int rawClient(const std::string& pipePath) {
    std::string socketPath;
    DWORD error = 0;
    sockaddr_un address;
    if (!palPipeSocketPath(pipePath.c_str(), socketPath, error) ||
        !palPipeAddress(socketPath, address)) {
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CBrokerContext context;
    static const std::string path =
        "\\\\.\\pipe\\mbfuzz-frames-" + std::to_string(GetCurrentProcessId());

    std::vector<Received> expected;
    const End expectedEnd = Model(data, size).frames(expected);

    HANDLE server = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                     PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    FUZZ_CHECK(server != INVALID_HANDLE_VALUE);
    FuzzChannel channel("fuzz", server, &context);
    {
        const mb::ScopedFd client(rawClient(path));
        FUZZ_CHECK(client.get() >= 0);
        OVERLAPPED ov{};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!ConnectNamedPipe(server, &ov)) {
            const DWORD error = GetLastError();
            FUZZ_CHECK(error == ERROR_PIPE_CONNECTED || error == ERROR_IO_PENDING);
            DWORD ignored = 0;
            FUZZ_CHECK(error == ERROR_PIPE_CONNECTED ||
                       GetOverlappedResult(server, &ov, &ignored, TRUE));
        }
        CloseHandle(ov.hEvent);
        // Everything at once, then the peer goes: every read the channel
        // makes can finish without waiting on anybody.
        size_t sent = 0;
        while (sent < size) {
            const ssize_t n = ::send(client.get(), data + sent, size - sent, MSG_NOSIGNAL);
            FUZZ_CHECK(n > 0);
            sent += static_cast<size_t>(n);
        }
    }

    std::vector<Received> got;
    End end;
    for (;;) {
        CMessage message;
        try {
            channel.receive(message);
        } catch (const CInterruptedExeception&) {
            end = End::PeerGone;
            break;
        } catch (const CMessageException&) {
            end = End::BadFrame;
            break;
        }
        FUZZ_CHECK(got.size() < expected.size());
        const Received& want = expected[got.size()];
        Received r{message.messageId(), message.processId(), message.length(), ""};
        if (message.length() > 0) {
            FUZZ_CHECK(message.data() != nullptr);
            const auto* bytes = reinterpret_cast<const char*>(message.data());
            const size_t came = std::min<size_t>(want.bytes.size(), message.length());
            r.bytes.assign(bytes, came);
            // The zeros after what came: the next few, and the last (the NUL).
            for (size_t i = came; i < std::min<size_t>(came + 64, message.length()); ++i) {
                FUZZ_CHECK(bytes[i] == 0);
            }
            FUZZ_CHECK(bytes[message.length() - 1] == 0);
        }
        got.push_back(std::move(r));
    }
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(end == expectedEnd);
    return 0;
}
