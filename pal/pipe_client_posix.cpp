// SPDX-License-Identifier: MIT
// The client end of a pipe, and waiting for a free instance.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>

#include "pal/pipe_internal.h"

HANDLE CreateFileA(LPCSTR fileName, DWORD /*desiredAccess*/, DWORD /*shareMode*/,
                   LPSECURITY_ATTRIBUTES /*securityAttributes*/, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE /*templateFile*/) {
    if (!palIsPipePath(fileName)) {
        SetLastError(fileName == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    if (creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path;
    DWORD error = ERROR_SUCCESS;
    sockaddr_un address;
    if (!palPipeSocketPath(fileName, path, error) || !palPipeAddress(path, address)) {
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    // A pipe whose descriptor refuses its own user has a socket without the
    // owner's write bit; root would pass that bit, so it is read here.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & S_IWUSR) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        SetLastError(palErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int err = errno;
        ::close(fd);
        SetLastError(err == ENOENT                            ? ERROR_FILE_NOT_FOUND
                     : (err == ECONNREFUSED || err == EAGAIN) ? ERROR_PIPE_BUSY
                                                              : palErrorFromErrno(err));
        return INVALID_HANDLE_VALUE;
    }
    try {
        std::shared_ptr<PipeChannel> channel = PipeChannel::create(fd);
        if (!channel) {
            return INVALID_HANDLE_VALUE;
        }
        auto state = std::make_shared<PipeEndState>();
        state->overlapped = (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0;
        state->phase = PipeEndState::Phase::Connected;
        state->channel = std::move(channel);
        HANDLE handle = palInsertHandle(std::make_shared<PipeEnd>(std::move(state)));
        return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL WaitNamedPipeA(LPCSTR name, DWORD timeOut) {
    std::string path;
    DWORD error = ERROR_SUCCESS;
    if (!palPipeSocketPath(name, path, error)) {
        SetLastError(error);
        return FALSE;
    }
    if (timeOut == NMPWAIT_USE_DEFAULT_WAIT) {
        timeOut = 50;
    }
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        if (palPipeIsListening(path)) {
            return TRUE;
        }
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
        if (timeOut != NMPWAIT_WAIT_FOREVER && waited >= static_cast<long long>(timeOut)) {
            SetLastError(ERROR_SEM_TIMEOUT);
            return FALSE;
        }
        Sleep(5);
    }
}
