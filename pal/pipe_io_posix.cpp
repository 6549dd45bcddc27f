// SPDX-License-Identifier: MIT
// ReadFile, WriteFile and the other transfers on pipe handles (a regular file reads
// through its own object).
#include "pal/file_internal.h"
#include "pal/pipe_internal.h"

namespace {

enum class Use { Read, Write, Peek, Flush };

// The channel behind a handle, or the status `use` of it reports now.
std::shared_ptr<PipeChannel> channelOf(HANDLE handle, Use use, std::shared_ptr<PipeEndState>& state,
                                       uint32_t& status, bool& messageRead) {
    std::shared_ptr<PipeEnd> end = palLookupHandleAs<PipeEnd>(handle);
    if (!end) {
        return nullptr;
    }
    state = end->state();
    std::lock_guard<std::mutex> lock(state->mutex);
    messageRead = state->messageRead;
    status = kStatusSuccess;
    switch (state->phase) {
        case PipeEndState::Phase::Connected:
            return state->channel;
        case PipeEndState::Phase::Listening:
            status = use == Use::Peek ? kStatusInvalidPipeState : kStatusPipeListening;
            break;
        case PipeEndState::Phase::Closing:
            status = use == Use::Write ? kStatusPipeClosing : kStatusPipeBroken;
            break;
        case PipeEndState::Phase::Disconnected:
            status = use == Use::Peek ? kStatusInvalidPipeState : kStatusPipeDisconnected;
            break;
    }
    if (use == Use::Flush) {
        status = kStatusSuccess;  // nothing of ours is left unread
    }
    return nullptr;
}

BOOL finish(uint32_t status, DWORD done, LPDWORD reported, LPOVERLAPPED overlapped,
           KernelObject* event) {
    if (status == STATUS_PENDING) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    if (reported != nullptr) {
        *reported = done;
    }
    if (overlapped != nullptr) {
        palCompleteOverlapped(overlapped, status, done, event);
    }
    if (status != kStatusSuccess) {
        SetLastError(palPipeStatusToError(status));
        return FALSE;
    }
    return TRUE;
}

enum class Direction { Read, Write };

BOOL transfer(Direction direction, HANDLE file, BYTE* buffer, DWORD size, LPDWORD count,
              LPOVERLAPPED overlapped) {
    if (buffer == nullptr && size > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (direction == Direction::Write && size > kMaxMessage) {
        SetLastError(ERROR_INVALID_PARAMETER);  // the wire carries no longer message
        return FALSE;
    }
    std::shared_ptr<PipeEndState> state;
    uint32_t status = 0;
    bool messageRead = false;
    std::shared_ptr<PipeChannel> channel =
        channelOf(file, direction == Direction::Read ? Use::Read : Use::Write, state, status,
                  messageRead);
    if (!state) {
        return FALSE;
    }
    // On a handle opened without FILE_FLAG_OVERLAPPED the record only receives
    // the result; the call itself waits.
    LPOVERLAPPED record = state->overlapped ? overlapped : nullptr;
    if (count != nullptr) {
        *count = 0;
    }
    std::shared_ptr<KernelObject> event = overlapped ? palStartOverlapped(overlapped) : nullptr;
    if (!channel) {
        return finish(status, 0, count, overlapped, event.get());
    }
    PipeOp op;
    op.overlapped = record;
    op.event = record != nullptr ? event : nullptr;
    op.issuer = std::this_thread::get_id();
    op.buffer = buffer;
    op.size = size;
    op.messageMode = messageRead;
    status = direction == Direction::Read ? channel->read(op) : channel->write(op);
    if (status == STATUS_PENDING) {
        return finish(status, 0, count, nullptr, nullptr);
    }
    if (record != nullptr && status != kStatusSuccess) {
        // An overlapped call that fails, even with ERROR_MORE_DATA, reports its
        // count only through the record.
        palCompleteOverlapped(overlapped, status, op.done, event.get());
        return finish(status, 0, count, nullptr, nullptr);
    }
    return finish(status, op.done, count, overlapped, event.get());
}

}  // namespace

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
    if (auto regular = std::dynamic_pointer_cast<RegularFile>(palLookupHandle(file))) {
        return regular->read(static_cast<BYTE*>(buffer), bytesToRead, bytesRead, overlapped);
    }
    return transfer(Direction::Read, file, static_cast<BYTE*>(buffer), bytesToRead, bytesRead,
                    overlapped);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
    if (std::dynamic_pointer_cast<RegularFile>(palLookupHandle(file))) {
        SetLastError(ERROR_ACCESS_DENIED);  // opened for reading only
        return FALSE;
    }
    // The layer never writes through the pointer; the cast only shares one op type.
    return transfer(Direction::Write, file, static_cast<BYTE*>(const_cast<void*>(buffer)),
                    bytesToWrite, bytesWritten, overlapped);
}

namespace {

// Cancels what matches on a handle: its transfers, and a server's connect.
BOOL cancelOn(HANDLE file, LPOVERLAPPED record, bool anyThread) {
    std::shared_ptr<PipeEnd> end = palLookupHandleAs<PipeEnd>(file);
    if (!end) {
        return FALSE;
    }
    std::shared_ptr<PipeEndState> state = end->state();
    end.reset();
    size_t count = 0;
    std::shared_ptr<PipeChannel> channel;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->connectOp && state->connectOp->matches(record, anyThread)) {
            palEndConnect(*state, kStatusCancelled);
            ++count;
        }
        channel = state->channel;
    }
    if (channel) {
        count += channel->cancel(record, anyThread);
    }
    if (count == 0 && anyThread) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL CancelIo(HANDLE file) {
    return cancelOn(file, nullptr, false);
}

BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    return cancelOn(file, overlapped, true);
}

BOOL FlushFileBuffers(HANDLE file) {
    std::shared_ptr<PipeEndState> state;
    uint32_t status = 0;
    bool messageRead = false;
    std::shared_ptr<PipeChannel> channel = channelOf(file, Use::Flush, state, status, messageRead);
    if (!state) {
        return FALSE;
    }
    if (channel) {
        status = channel->flush();
    }
    if (status != kStatusSuccess) {
        SetLastError(palPipeStatusToError(status));
        return FALSE;
    }
    return TRUE;
}

BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD bufferSize, LPDWORD bytesRead,
                   LPDWORD totalBytesAvail, LPDWORD bytesLeftThisMessage) {
    std::shared_ptr<PipeEndState> state;
    uint32_t status = 0;
    bool messageRead = false;
    std::shared_ptr<PipeChannel> channel = channelOf(pipe, Use::Peek, state, status, messageRead);
    if (!state) {
        return FALSE;
    }
    DWORD copied = 0, total = 0, left = 0;
    if (channel) {
        status = channel->peek(static_cast<BYTE*>(buffer), buffer ? bufferSize : 0, copied, total,
                               left);
    }
    if (status != kStatusSuccess) {
        SetLastError(palPipeStatusToError(status));
        return FALSE;
    }
    if (bytesRead != nullptr) *bytesRead = copied;
    if (totalBytesAvail != nullptr) *totalBytesAvail = total;
    if (bytesLeftThisMessage != nullptr) *bytesLeftThisMessage = left;
    return TRUE;
}

BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount,
                             LPDWORD collectDataTimeout) {
    std::shared_ptr<PipeEnd> end = palLookupHandleAs<PipeEnd>(pipe);
    if (!end) {
        return FALSE;
    }
    if (maxCollectionCount != nullptr || collectDataTimeout != nullptr ||
        (mode != nullptr && (*mode & ~(PIPE_READMODE_MESSAGE | PIPE_NOWAIT)) != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mode != nullptr) {
        if ((*mode & PIPE_NOWAIT) != 0) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        std::lock_guard<std::mutex> lock(end->state()->mutex);
        end->state()->messageRead = (*mode & PIPE_READMODE_MESSAGE) != 0;
    }
    return TRUE;
}
