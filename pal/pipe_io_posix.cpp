// ReadFile, WriteFile and the other transfers on pipe handles.
#include <poll.h>

#include <cerrno>

#include "pal/pipe_internal.h"

namespace {

// The channel behind a handle, or the status a transfer on it reports now.
std::shared_ptr<PipeChannel> channelOf(HANDLE handle, std::shared_ptr<PipeEndState>& state,
                                       uint32_t& status) {
    std::shared_ptr<PipeEnd> end = palLookupHandleAs<PipeEnd>(handle);
    if (!end) {
        return nullptr;
    }
    state = end->state();
    std::lock_guard<std::mutex> lock(state->mutex);
    switch (state->phase) {
        case PipeEndState::Phase::Listening:
            status = kStatusPipeListening;
            return nullptr;
        case PipeEndState::Phase::Closing:
            status = kStatusPipeClosing;
            return nullptr;
        case PipeEndState::Phase::Disconnected:
            status = kStatusPipeDisconnected;
            return nullptr;
        case PipeEndState::Phase::Connected:
            break;
    }
    status = kStatusSuccess;
    return state->channel;
}

BOOL finish(uint32_t status, DWORD done, LPDWORD reported, LPOVERLAPPED overlapped) {
    if (reported != nullptr) {
        *reported = done;
    }
    if (overlapped != nullptr) {
        palCompleteOverlapped(overlapped, status, done);
    }
    if (status != kStatusSuccess) {
        SetLastError(palPipeStatusToError(status));
        return FALSE;
    }
    return TRUE;
}

// Waits for the stream or the cancel signal; false once cancelled.
bool waitReadable(PipeChannel& channel) {
    pollfd fds[2] = {{channel.fd(), POLLIN, 0}, {channel.cancelFd(), POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    return (fds[1].revents & POLLIN) == 0 && channel.shutStatus() == 0;
}

// What starting a transfer does to the caller's records: no bytes yet, and the
// OVERLAPPED pending with its event reset.
void startOperation(LPDWORD count, LPOVERLAPPED overlapped) {
    if (count != nullptr) {
        *count = 0;
    }
    if (overlapped != nullptr) {
        __atomic_store_n(&overlapped->Internal, ULONG_PTR{STATUS_PENDING}, __ATOMIC_RELEASE);
        overlapped->InternalHigh = 0;
        if (overlapped->hEvent != nullptr) {
            ResetEvent(overlapped->hEvent);
        }
    }
}

}  // namespace

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
    if (buffer == nullptr && bytesToRead > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<PipeEndState> state;
    uint32_t status = 0;
    std::shared_ptr<PipeChannel> channel = channelOf(file, state, status);
    if (!state) {
        return FALSE;
    }
    startOperation(bytesRead, overlapped);
    bool async = overlapped != nullptr && state->overlapped;
    bool messageMode;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        messageMode = state->messageRead;
    }
    BYTE* to = static_cast<BYTE*>(buffer);
    DWORD done = 0;
    if (!channel) {
        return finish(status, 0, bytesRead, overlapped);
    }
    if (!async || channel->readReady(bytesToRead, messageMode)) {
        status = channel->read(to, bytesToRead, messageMode, done);
        return finish(status, done, bytesRead, overlapped);
    }
    auto work = [channel, to, bytesToRead, messageMode, overlapped] {
        DWORD n = 0;
        uint32_t result = waitReadable(*channel) ? channel->read(to, bytesToRead, messageMode, n)
                                                 : channel->shutStatus();
        palCompleteOverlapped(overlapped, result, n);
    };
    if (!palStartCompletionThread(work)) {
        __atomic_store_n(&overlapped->Internal, ULONG_PTR{kStatusNoMemory}, __ATOMIC_RELEASE);
        return FALSE;
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
    if (buffer == nullptr && bytesToWrite > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<PipeEndState> state;
    uint32_t status = 0;
    std::shared_ptr<PipeChannel> channel = channelOf(file, state, status);
    if (!state) {
        return FALSE;
    }
    startOperation(bytesWritten, overlapped);
    bool async = overlapped != nullptr && state->overlapped;
    const BYTE* from = static_cast<const BYTE*>(buffer);
    if (!channel) {
        return finish(status, 0, bytesWritten, overlapped);
    }
    if (!async) {
        channel->beginWrite();
        size_t offset = 0;
        status = channel->send(from, bytesToWrite, offset, false);
        channel->endWrite();
        return finish(status, status == kStatusSuccess ? bytesToWrite : 0, bytesWritten,
                      overlapped);
    }
    // What the stream takes at once completes at once, as a write into the pipe's
    // buffer does on Windows; the rest is sent by a completion thread.
    size_t offset = 0;
    bool turn = channel->tryBeginWrite();
    if (turn) {
        status = channel->send(from, bytesToWrite, offset, true);
        if (status != STATUS_PENDING) {
            channel->endWrite();
            return finish(status, status == kStatusSuccess ? bytesToWrite : 0, bytesWritten,
                          overlapped);
        }
    }
    auto work = [channel, from, bytesToWrite, overlapped, turn, offset]() mutable {
        if (!turn) {
            channel->beginWrite();
        }
        uint32_t result = channel->send(from, bytesToWrite, offset, false);
        channel->endWrite();
        palCompleteOverlapped(overlapped, result, result == kStatusSuccess ? bytesToWrite : 0);
    };
    if (!palStartCompletionThread(work)) {
        if (!turn) {
            __atomic_store_n(&overlapped->Internal, ULONG_PTR{kStatusNoMemory}, __ATOMIC_RELEASE);
            return FALSE;
        }
        // Part of the message is out: finish it here rather than corrupt the stream.
        status = channel->send(from, bytesToWrite, offset, false);
        channel->endWrite();
        return finish(status, status == kStatusSuccess ? bytesToWrite : 0, bytesWritten,
                      overlapped);
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL FlushFileBuffers(HANDLE file) {
    return palLookupHandleAs<PipeEnd>(file) ? TRUE : FALSE;
}

BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD bufferSize, LPDWORD bytesRead,
                   LPDWORD totalBytesAvail, LPDWORD bytesLeftThisMessage) {
    std::shared_ptr<PipeEndState> state;
    uint32_t status = 0;
    std::shared_ptr<PipeChannel> channel = channelOf(pipe, state, status);
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
