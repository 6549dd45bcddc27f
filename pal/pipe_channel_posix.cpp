// A pipe's stream: framed messages over a connected Unix socket.
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "pal/pipe_internal.h"

namespace {

uint32_t leLoad(const BYTE* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

PipeChannel::~PipeChannel() {
    ::close(fd_);
}

void PipeChannel::shut(uint32_t status) {
    uint32_t none = 0;
    if (shut_.compare_exchange_strong(none, status)) {
        cancel_.add(1);
        ::shutdown(fd_, SHUT_RDWR);
    }
}

uint32_t PipeChannel::fill(BYTE* to, size_t n) {
    while (n > 0) {
        ssize_t got = ::recv(fd_, to, n, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            uint32_t shut = shutStatus();
            return shut != 0 ? shut : kStatusPipeBroken;
        }
        to += got;
        n -= static_cast<size_t>(got);
    }
    return kStatusSuccess;
}

bool PipeChannel::nextHeader(uint32_t& status) {
    BYTE header[4];
    status = fill(header, sizeof header);
    if (status != kStatusSuccess) {
        return false;
    }
    inMessage_ = true;
    remaining_ = leLoad(header);
    return true;
}

bool PipeChannel::readReady(DWORD size, bool messageMode) {
    std::lock_guard<std::mutex> lock(readMutex_);
    if (shutStatus() != 0) {
        return true;
    }
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0) {
        return false;
    }
    size_t have = static_cast<size_t>(queued);
    if (inMessage_) {
        return have >= std::min<size_t>(size, remaining_) || (!messageMode && have > 0);
    }
    if (have == 0) {
        pollfd fd{fd_, POLLIN, 0};
        return ::poll(&fd, 1, 0) > 0;  // readable with nothing queued: the peer has gone
    }
    BYTE header[4];
    if (have < sizeof header ||
        ::recv(fd_, header, sizeof header, MSG_PEEK | MSG_DONTWAIT) != sizeof header) {
        return false;
    }
    return have - sizeof header >= std::min<size_t>(size, leLoad(header));
}

uint32_t PipeChannel::read(BYTE* buffer, DWORD size, bool messageMode, DWORD& done) {
    std::lock_guard<std::mutex> lock(readMutex_);
    done = 0;
    uint32_t status = shutStatus();
    if (status != 0) {
        return status;
    }
    for (;;) {
        if (!inMessage_ && !nextHeader(status)) {
            return done > 0 ? kStatusSuccess : status;  // byte mode keeps what it has
        }
        DWORD take = std::min<DWORD>(size - done, remaining_);
        status = fill(buffer + done, take);
        if (status != kStatusSuccess) {
            return status;
        }
        done += take;
        remaining_ -= take;
        if (remaining_ == 0) {
            inMessage_ = false;
        }
        if (messageMode) {
            return inMessage_ ? kStatusBufferOverflow : kStatusSuccess;
        }
        if (done == size) {
            return kStatusSuccess;
        }
        // Byte mode runs on into messages that have already arrived.
        pollfd fd{fd_, POLLIN, 0};
        if (::poll(&fd, 1, 0) <= 0 || (fd.revents & POLLIN) == 0) {
            return kStatusSuccess;
        }
    }
}

bool PipeChannel::tryBeginWrite() {
    std::lock_guard<std::mutex> lock(writeMutex_);
    if (writing_) {
        return false;
    }
    writing_ = true;
    return true;
}

void PipeChannel::beginWrite() {
    std::unique_lock<std::mutex> lock(writeMutex_);
    writeTurn_.wait(lock, [this] { return !writing_; });
    writing_ = true;
}

void PipeChannel::endWrite() {
    {
        std::lock_guard<std::mutex> lock(writeMutex_);
        writing_ = false;
    }
    writeTurn_.notify_one();
}

uint32_t PipeChannel::send(const BYTE* data, DWORD size, size_t& offset, bool dontWait) {
    BYTE header[4] = {static_cast<BYTE>(size), static_cast<BYTE>(size >> 8),
                      static_cast<BYTE>(size >> 16), static_cast<BYTE>(size >> 24)};
    const size_t total = sizeof header + size_t{size};
    while (offset < total) {
        uint32_t shut = shutStatus();
        if (shut != 0) {
            return shut;
        }
        iovec parts[2];
        int count = 0;
        if (offset < sizeof header) {
            parts[count++] = {header + offset, sizeof header - offset};
        }
        size_t dataOffset = offset > sizeof header ? offset - sizeof header : 0;
        if (dataOffset < size) {
            parts[count++] = {const_cast<BYTE*>(data) + dataOffset, size - dataOffset};
        }
        msghdr msg{};
        msg.msg_iov = parts;
        msg.msg_iovlen = static_cast<size_t>(count);
        ssize_t sent = ::sendmsg(fd_, &msg, MSG_NOSIGNAL | (dontWait ? MSG_DONTWAIT : 0));
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && dontWait && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return STATUS_PENDING;
        }
        if (sent < 0) {
            shut = shutStatus();
            return shut != 0 ? shut : kStatusPipeClosing;
        }
        offset += static_cast<size_t>(sent);
    }
    return kStatusSuccess;
}

uint32_t PipeChannel::peek(BYTE* buffer, DWORD size, DWORD& copied, DWORD& total, DWORD& left) {
    std::lock_guard<std::mutex> lock(readMutex_);
    copied = total = left = 0;
    uint32_t status = shutStatus();
    if (status != 0) {
        return status;
    }
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0) {
        queued = 0;
    }
    std::vector<BYTE> raw;
    if (queued > 0) {
        try {
            raw.resize(static_cast<size_t>(queued));
        } catch (const std::bad_alloc&) {
            return kStatusNoMemory;
        }
        ssize_t got = ::recv(fd_, raw.data(), raw.size(), MSG_PEEK | MSG_DONTWAIT);
        raw.resize(got > 0 ? static_cast<size_t>(got) : 0);
    } else {
        pollfd fd{fd_, POLLIN, 0};
        if (::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLIN)) != 0) {
            return kStatusPipeBroken;  // readable with nothing queued: the peer has gone
        }
    }
    // Walk the queued bytes: the current message first, then whole frames.
    size_t pos = 0;
    bool first = true;
    bool current = inMessage_;
    uint64_t currentLeft = remaining_;
    uint64_t sum = 0;
    while (true) {
        if (!current) {
            if (raw.size() - pos < 4) {
                break;
            }
            currentLeft = leLoad(raw.data() + pos);
            pos += 4;
        }
        size_t here = static_cast<size_t>(std::min<uint64_t>(currentLeft, raw.size() - pos));
        if (first) {
            copied = static_cast<DWORD>(std::min<size_t>(here, size));
            left = static_cast<DWORD>(currentLeft - copied);
            if (buffer != nullptr && copied > 0) {
                std::memcpy(buffer, raw.data() + pos, copied);
            }
            first = false;
        }
        sum += here;
        pos += here;
        current = false;
        if (here < currentLeft) {
            break;
        }
    }
    total = static_cast<DWORD>(std::min<uint64_t>(sum, MAXDWORD));
    return kStatusSuccess;
}

