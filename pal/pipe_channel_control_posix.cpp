// SPDX-License-Identifier: MIT
// A pipe stream's cancelling, ending, flushing and peeking.
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "pal/pipe_internal.h"

size_t PipeChannel::cancel(LPOVERLAPPED record, bool anyThread) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (auto it = reads_.begin(); it != reads_.end();) {
        PipeOp& op = **it;
        if (!op.matches(record, anyThread)) {
            ++it;
            continue;
        }
        ++count;
        uint32_t status = kStatusCancelled;
        if (op.done > 0 && !op.messageMode) {
            status = kStatusSuccess;  // a byte-mode read may end with what it has
        } else if (op.done > 0) {
            // Only the head read can hold part of a message: give it back.
            try {
                std::vector<BYTE> back(op.buffer, op.buffer + op.done);
                back.insert(back.end(), ahead_.begin() + static_cast<ptrdiff_t>(aheadAt_),
                            ahead_.begin() + static_cast<ptrdiff_t>(aheadEnd_));
                aheadEnd_ = back.size();
                aheadAt_ = 0;
                back.resize(std::max(back.size(), ahead_.size()));
                ahead_ = std::move(back);
                remaining_ += op.done;
                op.done = 0;
            } catch (const std::bad_alloc&) {
                readBroken_ = true;  // cannot keep the message whole
            }
        }
        PipeOpPtr done = std::move(*it);
        it = reads_.erase(it);
        finish(*done, status);
    }
    for (auto it = writes_.begin(); it != writes_.end();) {
        PipeOp& op = **it;
        if (!op.matches(record, anyThread)) {
            ++it;
            continue;
        }
        ++count;
        if (op.offset == 0) {
            PipeOpPtr done = std::move(*it);
            it = writes_.erase(it);
            finish(*done, kStatusCancelled);
            continue;
        }
        // Part of the message is out: its rest goes from a copy of our own, and
        // the caller hears that the write completed, which it will.
        try {
            op.own.assign(op.buffer, op.buffer + op.size);
            op.buffer = op.own.data();
        } catch (const std::bad_alloc&) {
            ::shutdown(fd_, SHUT_RDWR);  // a cut message must not reach the peer
        }
        op.done = op.size;
        op.detached = true;
        if (op.overlapped != nullptr) {
            palCompleteOverlapped(op.overlapped, kStatusSuccess, op.done, op.event.get());
            op.overlapped = nullptr;
            op.event.reset();
        }
        ++it;
    }
    if (count > 0) {
        finished_.notify_all();
        arm();
    }
    return count;
}

void PipeChannel::shut(uint32_t status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shut_ != 0) {
        return;
    }
    shut_ = status;
    ::shutdown(fd_, SHUT_RDWR);
    for (auto* ops : {&reads_, &writes_}) {
        while (!ops->empty()) {
            PipeOpPtr op = std::move(ops->front());
            ops->pop_front();
            op->done = 0;
            finish(*op, status);
        }
    }
}

bool PipeChannel::peerGone() const {
    pollfd p{fd_, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

uint32_t PipeChannel::flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return writes_.empty() || shut_ != 0; });
    for (unsigned pause = 1;; pause = std::min(pause * 2, 16u)) {
        if (shut_ != 0) {
            return shut_;
        }
        // A reader that has gone will read nothing more: nothing to wait for.
        int unread = 0;
        if (::ioctl(fd_, SIOCOUTQ, &unread) != 0 || unread == 0 || peerGone()) {
            return kStatusSuccess;
        }
        // The socket has no wake-up for "all read"; poll it gently.
        lock.unlock();
        Sleep(pause);
        lock.lock();
    }
}

uint32_t PipeChannel::peek(BYTE* buffer, DWORD size, DWORD& copied, DWORD& total, DWORD& left) {
    std::lock_guard<std::mutex> lock(mutex_);
    copied = total = left = 0;
    if (shut_ != 0) {
        return shut_;
    }
    if (readBroken_) {
        return kStatusPipeBroken;
    }
    // What has been taken off the socket but not delivered comes first.
    std::vector<BYTE> raw;
    try {
        raw.assign(ahead_.begin() + static_cast<ptrdiff_t>(aheadAt_),
                   ahead_.begin() + static_cast<ptrdiff_t>(aheadEnd_));
        int queued = 0;
        if (::ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0) {
            size_t before = raw.size();
            raw.resize(before + static_cast<size_t>(queued));
            ssize_t got = ::recv(fd_, raw.data() + before, static_cast<size_t>(queued),
                                 MSG_PEEK | MSG_DONTWAIT);
            raw.resize(before + (got > 0 ? static_cast<size_t>(got) : 0));
        }
    } catch (const std::bad_alloc&) {
        return kStatusNoMemory;
    }
    if (raw.empty() && !inMessage_ && peerGone()) {
        return kStatusPipeBroken;
    }
    // Walk the bytes: the current message first, then whole frames.
    size_t pos = 0;
    bool first = true;
    bool current = inMessage_;
    uint64_t currentLeft = remaining_;
    uint64_t sum = 0;
    for (;;) {
        if (!current) {
            if (raw.size() - pos < 4) {
                break;
            }
            currentLeft = palLoadLe32(raw.data() + pos);
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
