// SPDX-License-Identifier: MIT
// A pipe's stream: framed messages over a connected, non-blocking Unix socket.
// Operations finish on the caller's thread when the socket allows it at once,
// as Windows completes a transfer into or out of the pipe's buffer at once;
// the rest wait in order for the I/O thread.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "pal/pipe_internal.h"

namespace {

constexpr size_t kAheadBytes = 16384;
constexpr size_t kSmallFrame = 512;

}  // namespace

bool PipeOp::matches(LPOVERLAPPED record, bool anyThread) const {
    if (detached) {
        return false;
    }
    if (!anyThread && issuer != std::this_thread::get_id()) {
        return false;
    }
    return record == nullptr || record == overlapped;
}

bool PipeOp::helpFd(int& fd, short& events) {
    std::shared_ptr<PipeChannel> stream = channel.lock();
    if (!stream) {
        return false;
    }
    fd = stream->fd();
    events = write ? POLLOUT : POLLIN;
    return true;
}

void PipeOp::help() {
    if (std::shared_ptr<PipeChannel> stream = channel.lock()) {
        stream->onReady(0);
    }
}

void PipeOp::beginHelp() {
    if (std::shared_ptr<PipeChannel> stream = channel.lock()) {
        stream->helping(*this, true);
    }
}

void PipeOp::endHelp() {
    if (std::shared_ptr<PipeChannel> stream = channel.lock()) {
        stream->helping(*this, false);
    }
}

std::shared_ptr<PipeChannel> PipeChannel::create(int fd) {
    std::shared_ptr<PipeChannel> channel;
    try {
        channel = std::make_shared<PipeChannel>(fd);
        channel->ahead_.resize(kAheadBytes);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    IoReactor* reactor = IoReactor::get();
    if (reactor == nullptr) {
        return nullptr;
    }
    // Watched only while an overlapped operation waits (see arm()), so that
    // transfers that finish in the call cost the I/O thread nothing.
    channel->key_ = reactor->add(fd, EPOLLONESHOT, channel);
    return channel->key_ != 0 ? channel : nullptr;
}

PipeChannel::~PipeChannel() {
    if (key_ != 0) {
        IoReactor::get()->remove(key_, fd_);
    }
    ::close(fd_);
}

// The I/O thread watches for an overlapped operation at the head of a queue
// that no waiter is driving. A registration that is no longer needed is left
// to fire once for nothing, unless `disarm` asks for it to go at once.
void PipeChannel::arm(bool disarm) {
    auto needsThread = [](const PipeOp& op) {
        return (op.overlapped != nullptr || op.detached) && op.helpers == 0;
    };
    uint32_t wanted = 0;
    if (!reads_.empty() && needsThread(*reads_.front())) {
        wanted |= EPOLLIN | EPOLLRDHUP;
    }
    if (!writes_.empty() && needsThread(*writes_.front())) {
        wanted |= EPOLLOUT;
    }
    if (wanted != armed_ && (wanted != 0 || disarm)) {
        IoReactor::get()->modify(key_, fd_, wanted | EPOLLONESHOT);
        armed_ = wanted;
    }
}

void PipeChannel::helping(PipeOp& op, bool begin) {
    std::lock_guard<std::mutex> lock(mutex_);
    op.helpers += begin ? 1 : -1;
    arm(begin);
}

void PipeChannel::onReady(uint32_t events) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (events != 0) {
        armed_ = 0;  // the one-shot registration has fired
    }
    // A synchronous caller drives its own operation; taking its data here would
    // leave it asleep in poll.
    if (reads_.empty() || reads_.front()->overlapped != nullptr) {
        pumpReads();
    }
    if (writes_.empty() || writes_.front()->overlapped != nullptr || writes_.front()->detached) {
        pumpWrites();
    }
    arm();
}

void PipeChannel::finish(PipeOp& op, uint32_t status) {
    op.status = status;
    op.finished = true;
    if (op.overlapped != nullptr) {
        palCompleteOverlapped(op.overlapped, status, op.done, op.event.get());
    }
    finished_.notify_all();
}

uint32_t PipeChannel::queue(std::deque<PipeOpPtr>& ops, PipeOp& op,
                            std::unique_lock<std::mutex>& lock) {
    PipeOpPtr queued;
    try {
        queued = std::make_shared<PipeOp>(std::move(op));
        queued->channel = weak_from_this();
        queued->write = &ops == &writes_;
        ops.push_back(queued);
    } catch (const std::bad_alloc&) {
        return kStatusNoMemory;
    }
    if (queued->overlapped != nullptr) {
        if (queued->event) {
            palSetEventHelper(*queued->event, queued);
        }
        arm();
        return STATUS_PENDING;
    }
    // A synchronous caller at the head of the queue drives the socket itself,
    // sparing the hop through the I/O thread. The time-out only bounds how late
    // it notices a cancel from another thread.
    while (!queued->finished) {
        if (ops.front() != queued) {
            finished_.wait_for(lock, std::chrono::milliseconds(100));
            continue;
        }
        pollfd p{fd_, static_cast<short>(queued->write ? POLLOUT : POLLIN), 0};
        lock.unlock();
        ::poll(&p, 1, 100);
        lock.lock();
        if (!queued->finished) {
            queued->write ? pumpWrites() : pumpReads();
        }
    }
    arm();  // for overlapped operations queued behind this one
    op.done = queued->done;
    return queued->status;
}

// ---- Reading -------------------------------------------------------------

ssize_t PipeChannel::recvAhead() {
    if (aheadAt_ > 0) {
        std::memmove(ahead_.data(), ahead_.data() + aheadAt_, aheadEnd_ - aheadAt_);
        aheadEnd_ -= aheadAt_;
        aheadAt_ = 0;
    }
    ssize_t got = ::recv(fd_, ahead_.data() + aheadEnd_, ahead_.size() - aheadEnd_, MSG_DONTWAIT);
    if (got > 0) {
        aheadEnd_ += static_cast<size_t>(got);
    }
    return got;
}

uint32_t PipeChannel::progressRead(PipeOp& op) {
    for (;;) {
        if (shut_ != 0) {
            return shut_;
        }
        if (readBroken_) {
            return !op.messageMode && op.done > 0 ? kStatusSuccess : kStatusPipeBroken;
        }
        const size_t have = aheadEnd_ - aheadAt_;
        ssize_t got;
        if (!inMessage_) {
            if (have >= 4) {
                remaining_ = palLoadLe32(ahead_.data() + aheadAt_);
                aheadAt_ += 4;
                inMessage_ = true;
                if (remaining_ > kMaxMessage) {
                    // Garbage on the wire: the stream is unusable, as if the peer
                    // had closed it.
                    readBroken_ = true;
                    ::shutdown(fd_, SHUT_RDWR);
                }
                continue;
            }
            got = recvAhead();
        } else {
            DWORD want = std::min<DWORD>(op.size - op.done, remaining_);
            if (want == 0) {
                if (remaining_ == 0) {
                    inMessage_ = false;
                    if (op.messageMode || op.done == op.size) {
                        return kStatusSuccess;
                    }
                    continue;  // byte mode runs on into the next message
                }
                return op.messageMode ? kStatusBufferOverflow : kStatusSuccess;
            }
            if (have > 0) {
                size_t n = std::min<size_t>(want, have);
                std::memcpy(op.buffer + op.done, ahead_.data() + aheadAt_, n);
                aheadAt_ += n;
                op.done += static_cast<DWORD>(n);
                remaining_ -= static_cast<uint32_t>(n);
                continue;
            }
            // Big reads go straight to the caller; small ones take what follows too.
            if (want >= ahead_.size()) {
                got = ::recv(fd_, op.buffer + op.done, want, MSG_DONTWAIT);
                if (got > 0) {
                    op.done += static_cast<DWORD>(got);
                    remaining_ -= static_cast<uint32_t>(got);
                }
            } else {
                got = recvAhead();
            }
        }
        if (got > 0 || (got < 0 && errno == EINTR)) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return !op.messageMode && op.done > 0 ? kStatusSuccess : STATUS_PENDING;
        }
        readBroken_ = true;  // end of stream, or a reset: the peer has gone
    }
}

void PipeChannel::pumpReads() {
    while (!reads_.empty()) {
        PipeOp& op = *reads_.front();
        uint32_t status = progressRead(op);
        if (status == STATUS_PENDING) {
            return;
        }
        PipeOpPtr done = std::move(reads_.front());
        reads_.pop_front();
        finish(*done, status);
    }
}

uint32_t PipeChannel::read(PipeOp& op) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (reads_.empty()) {
        uint32_t status = progressRead(op);
        if (status != STATUS_PENDING) {
            return status;
        }
    }
    return queue(reads_, op, lock);
}

// ---- Writing -------------------------------------------------------------

uint32_t PipeChannel::progressWrite(PipeOp& op) {
    const BYTE header[4] = {static_cast<BYTE>(op.size), static_cast<BYTE>(op.size >> 8),
                            static_cast<BYTE>(op.size >> 16), static_cast<BYTE>(op.size >> 24)};
    const size_t total = sizeof header + size_t{op.size};
    if (op.offset == 0 && total <= kSmallFrame && shut_ == 0) {
        // A small frame goes out from one buffer with send(), cheaper than sendmsg().
        BYTE frame[kSmallFrame];
        std::memcpy(frame, header, sizeof header);
        if (op.size > 0) {
            std::memcpy(frame + sizeof header, op.buffer, op.size);
        }
        ssize_t sent;
        do {
            sent = ::send(fd_, frame, total, MSG_NOSIGNAL | MSG_DONTWAIT);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK ? STATUS_PENDING : kStatusPipeClosing;
        }
        op.offset = static_cast<size_t>(sent);
    }
    while (op.offset < total) {
        if (shut_ != 0) {
            return shut_;
        }
        iovec parts[2];
        size_t count = 0;
        if (op.offset < sizeof header) {
            parts[count++] = {const_cast<BYTE*>(header) + op.offset, sizeof header - op.offset};
        }
        size_t dataOffset = op.offset > sizeof header ? op.offset - sizeof header : 0;
        if (dataOffset < op.size) {
            parts[count++] = {op.buffer + dataOffset, op.size - dataOffset};
        }
        msghdr msg{};
        msg.msg_iov = parts;
        msg.msg_iovlen = count;
        ssize_t sent = ::sendmsg(fd_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            op.offset += static_cast<size_t>(sent);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return STATUS_PENDING;
        } else if (errno != EINTR) {
            return kStatusPipeClosing;  // the reader has gone
        }
    }
    op.done = op.size;
    return kStatusSuccess;
}

void PipeChannel::pumpWrites() {
    while (!writes_.empty()) {
        uint32_t status = progressWrite(*writes_.front());
        if (status == STATUS_PENDING) {
            return;
        }
        PipeOpPtr done = std::move(writes_.front());
        writes_.pop_front();
        finish(*done, status);
    }
}

uint32_t PipeChannel::write(PipeOp& op) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (writes_.empty()) {
        uint32_t status = progressWrite(op);
        if (status != STATUS_PENDING) {
            return status;
        }
    }
    return queue(writes_, op, lock);
}
