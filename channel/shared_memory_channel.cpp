// SPDX-License-Identifier: MIT
#include "channel/shared_memory_channel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "channel/broker_context.h"
#include "codec/frame.h"
#include "foundation/ks_exception.h"
#include "pal/scoped_handle.h"

CSharedMemoryChannel::CSharedMemoryChannel(const char* name, HANDLE pipeHandle,
                                           CBrokerContext* context)
    : pipeHandle_(pipeHandle), context_(context) {
    pipePath_ = KsString("\\\\.\\pipe\\");
    pipePath_.append(KsString(name));
}

CSharedMemoryChannel::~CSharedMemoryChannel() {
    close();
}

void CSharedMemoryChannel::close() {
    if (pipeHandle() == INVALID_HANDLE_VALUE) {
        return;
    }
    KsMonitorLock lock(closeMonitor_);
    HANDLE handle = pipeHandle();
    if (handle != INVALID_HANDLE_VALUE) {
        // No FlushFileBuffers: it waits until the client has read everything,
        // so a client that never reads would hold this thread, and at shutdown
        // the whole Broker, for good. A channel closes only when its client is
        // gone, misbehaves or the Broker stops; none of them waits for a reply.
        DisconnectNamedPipe(handle);
        CloseHandle(handle);
        pipeHandle_.store(INVALID_HANDLE_VALUE, std::memory_order_release);
    }
}

bool CSharedMemoryChannel::isConnected() {
    // Under the monitor, so the handle cannot be closed (and its value reused)
    // between reading it and peeking at it.
    KsMonitorLock lock(closeMonitor_);
    HANDLE handle = pipeHandle();
    return handle != INVALID_HANDLE_VALUE &&
           PeekNamedPipe(handle, nullptr, 0, nullptr, nullptr, nullptr) != FALSE;
}

void CSharedMemoryChannel::send(const CMessage& message) {
    codec::FrameHeader header;
    header.processId = message.processId();
    header.messageId = message.messageId();
    header.length = message.length();
    // Each word is a pipe message of its own.
    for (uint32_t field : codec::frameWords(header)) {
        codec::FrameWord bytes = codec::encodeFrameWord(field);
        transfer(Direction::Write, bytes.data(), codec::kFrameWordBytes, false);
    }
    // An empty message still sends its (empty) payload message.
    uint8_t none = 0;
    void* payload = message.length() != 0 ? const_cast<uint8_t*>(message.data()) : &none;
    transfer(Direction::Write, payload, message.length(), false);
}

void CSharedMemoryChannel::receive(CMessage& message) {
    receiveFrame(message, false);
}

void CSharedMemoryChannel::receiveWithPump(CMessage& message) {
    receiveFrame(message, true);
}

void CSharedMemoryChannel::receiveFrame(CMessage& message, bool pumping) {
    // All five words are read before any is judged.
    codec::FrameWords words;
    for (uint32_t& word : words) {
        codec::FrameWord bytes{};
        transfer(Direction::Read, bytes.data(), codec::kFrameWordBytes, pumping);
        word = codec::decodeFrameWord(bytes.data());
    }
    const codec::FrameDecodeResult frame = codec::decodeFrameWords(words);
    switch (frame.error) {
        case codec::FrameError::BadMagic:
            throw CMessageException("Invalid Message Header");
        case codec::FrameError::BadVersion:
            throw CMessageException("Invalid Message Version");
        case codec::FrameError::LengthOverLimit:
        case codec::FrameError::Truncated:
        case codec::FrameError::None:
            break;
    }
    const uint32_t processId = frame.header.processId;
    const uint32_t messageId = frame.header.messageId;
    const uint32_t length = frame.header.length;
    // A request this long is no request: the connection ends without reading
    // (or setting memory aside for) the rest.
    if (length > codec::kRequestMaxLength) {
        throw CMessageException("Request too large");
    }
    if (length == 0) {
        return;
    }
    uint32_t count = 0;
    uint8_t* payload = readPayload(length, pumping, count);
    message.adoptFromFrame(messageId, processId, payload, count);
}

uint8_t* CSharedMemoryChannel::readPayload(uint32_t length, bool pumping, uint32_t& count) {
    using Block = std::unique_ptr<uint8_t, void (*)(void*)>;
    // The buffer grows with the bytes that arrive, never ahead of them: a
    // client that announces the longest request and sends three bytes costs
    // three bytes' worth. (A read into the whole announced length would not
    // do: Wine, and Windows' own probe of a read buffer, touch every page of
    // it, which then stays resident.)
    constexpr uint32_t kFirstRead = 64u * 1024u;
    uint32_t capacity = std::min(length, kFirstRead);
    Block buffer(static_cast<uint8_t*>(std::malloc(capacity)), &std::free);
    if (!buffer) {
        throw KsException("unable to allocate memory");
    }
    uint32_t have = 0;
    for (;;) {
        // Up to the announced length, a message longer than the buffer is
        // more to come; beyond it, the payload is longer than announced, a
        // failed read as before.
        bool more = false;
        have += transfer(Direction::Read, buffer.get() + have, capacity - have, pumping,
                         capacity < length ? &more : nullptr);
        if (!more) {
            break;
        }
        const uint32_t grown = capacity > length / 2 ? length : capacity * 2;
        uint8_t* larger = static_cast<uint8_t*>(std::realloc(buffer.get(), grown));
        if (larger == nullptr) {
            throw KsException("unable to allocate memory");
        }
        buffer.release();
        buffer.reset(larger);
        capacity = grown;
    }
    // The message is the announced length and a NUL, zeros where the payload
    // came short. Zeroed fresh, the pages past the payload are never touched.
    count = length + 1;
    if (have < length) {
        Block whole(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(length) + 1, 1)),
                    &std::free);
        if (!whole) {
            throw KsException("unable to allocate memory");
        }
        std::memcpy(whole.get(), buffer.get(), have);
        return whole.release();
    }
    uint8_t* whole = static_cast<uint8_t*>(std::realloc(buffer.get(), count));
    if (whole == nullptr) {
        throw KsException("unable to allocate memory");
    }
    buffer.release();
    whole[length] = 0;
    return whole;
}

DWORD CSharedMemoryChannel::transfer(Direction direction, void* buffer, DWORD count,
                                     bool pumping, bool* more) {
    const bool reading = direction == Direction::Read;
    if (!reading && pipeHandle() == INVALID_HANDLE_VALUE) {
        throw CInterruptedExeception();
    }
    // Closed on every way out of the transfer.
    const mb::ScopedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        throw CMessageException("Failed to create connection");
    }
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event.get();

    HANDLE handle = pipeHandle();
    const BOOL done = reading ? ReadFile(handle, buffer, count, nullptr, &overlapped)
                              : WriteFile(handle, buffer, count, nullptr, &overlapped);
    DWORD moved = 0;
    if (done) {
        GetOverlappedResult(handle, &overlapped, &moved, FALSE);
        return moved;
    }
    const DWORD error = GetLastError();
    if (more != nullptr && error == ERROR_MORE_DATA) {
        // The count of a failed overlapped read is only in its record.
        GetOverlappedResult(handle, &overlapped, &moved, FALSE);
        *more = true;
        return moved;
    }
    if (error == ERROR_IO_PENDING) {
        if (pumping) {
            pumpWhilePending(event.get());
        }
        HANDLE waits[2] = {event.get(), context_->interruptEvent};
        const DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            const BOOL ok = GetOverlappedResult(handle, &overlapped, &moved, TRUE);
            if (reading && !ok && more != nullptr && GetLastError() == ERROR_MORE_DATA) {
                *more = true;
                return moved;
            }
            if (reading && !ok) {
                if (GetLastError() == ERROR_BROKEN_PIPE) {
                    throw CInterruptedExeception();
                }
                throw CMessageException("unexpected error");
            }
            return moved;
        }
        abandonTransfer(overlapped);
        if (which == WAIT_OBJECT_0 + 1) {
            throw CInterruptedExeception();
        }
        throw CMessageException("unexpected error");
    }
    if (reading) {
        if (error == ERROR_BROKEN_PIPE) {
            throw CInterruptedExeception();
        }
        throw CMessageException("Read Error");
    }
    if (error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED) {
        throw CInterruptedExeception();
    }
    throw CMessageException("Connection Closed");
}

void CSharedMemoryChannel::abandonTransfer(OVERLAPPED& overlapped) {
    HANDLE handle = pipeHandle();
    {
        KsMonitorLock lock(closeMonitor_);
        handle = pipeHandle();
        if (handle != INVALID_HANDLE_VALUE) {
            CancelIoEx(handle, &overlapped);
        }
    }
    // The operation writes into the record, the buffer and the event until it
    // completes, all of which the caller is about to release.
    DWORD ignored = 0;
    GetOverlappedResult(handle, &overlapped, &ignored, TRUE);
}
