// SPDX-License-Identifier: MIT
// Pipe names to socket paths, and the OVERLAPPED completion record.
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "pal/pipe_internal.h"

namespace {

constexpr const char kPrefix[] = "\\\\.\\pipe\\";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;
constexpr size_t kMaxPipePath = 256;
constexpr size_t kMaxPlainName = 64;

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool plainNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
}

// Creates `path` with mode 0700 when missing, and accepts it only as a directory
// of the current user that nobody else can use.
bool ensurePrivateDirectory(const std::string& path, DWORD& error) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = palErrorFromErrno(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        error = palErrorFromErrno(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        error = ERROR_ACCESS_DENIED;
        return false;
    }
    return true;
}

bool pipeDirectory(std::string& dir, DWORD& error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base;
    if (runtime != nullptr && runtime[0] != '\0') {
        // The runtime directory itself belongs to the session; only our part is checked.
        base = std::string(runtime) + "/winpal";
        if (::mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) {
            error = palErrorFromErrno(errno);
            return false;
        }
    } else {
        base = "/tmp/winpal-" + std::to_string(static_cast<unsigned long long>(::geteuid()));
    }
    if (!ensurePrivateDirectory(base, error)) {
        return false;
    }
    dir = base + "/pipe";
    return ensurePrivateDirectory(dir, error);
}

}  // namespace

bool palPipeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The name a listening socket is bound to before it is renamed into place.
std::string palPipeBindName(const std::string& path) {
    size_t slash = path.rfind('/') + 1;
    return path.substr(0, slash) + ".bind." + path.substr(slash);
}

// True when some socket listens on `path`. Linux lists listening sockets in
// /proc/net/unix under the name they were bound to: ours under palPipeBindName(path),
// those of other hosts under the path itself.
bool palPipeIsListening(const std::string& path) {
    std::string ours = palPipeBindName(path);
    std::ifstream table("/proc/net/unix");
    std::string line;
    std::getline(table, line);  // column titles
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string num, refs, protocol, flags, type, st, inode, name;
        if (!(fields >> num >> refs >> protocol >> flags >> type >> st >> inode >> name) ||
            (name != path && name != ours)) {
            continue;
        }
        unsigned long value = std::strtoul(flags.c_str(), nullptr, 16);
        if ((value & 0x10000ul) != 0) {  // __SO_ACCEPTCON: the socket listens
            return true;
        }
    }
    return false;
}

bool palIsPipePath(const char* path) {
    if (path == nullptr || std::strlen(path) < kPrefixLength) {
        return false;
    }
    for (size_t i = 0; i < kPrefixLength; ++i) {
        if (foldAscii(path[i]) != kPrefix[i]) {
            return false;
        }
    }
    return true;
}

std::string palPipeFileName(const std::string& name) {
    std::string folded;
    folded.reserve(name.size());
    bool plain = !name.empty() && name.size() <= kMaxPlainName;
    for (char c : name) {
        char f = foldAscii(c);
        plain = plain && plainNameChar(f);
        folded.push_back(f);
    }
    // "." and ".." are plain characters but name the directory itself.
    if (plain && folded != "." && folded != "..") {
        return folded;
    }
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : folded) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char text[18];
    std::snprintf(text, sizeof text, "~%016llx", static_cast<unsigned long long>(hash));
    return text;
}

bool palPipeSocketPath(const char* pipePath, std::string& socketPath, DWORD& error) {
    if (pipePath == nullptr) {
        error = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (!palIsPipePath(pipePath) || pipePath[kPrefixLength] == '\0') {
        error = ERROR_INVALID_NAME;
        return false;
    }
    if (std::strlen(pipePath) > kMaxPipePath) {
        error = ERROR_INVALID_NAME;
        return false;
    }
    std::string dir;
    if (!pipeDirectory(dir, error)) {
        return false;
    }
    socketPath = dir + "/" + palPipeFileName(pipePath + kPrefixLength);
    return true;
}

DWORD palPipeStatusToError(uint32_t status) {
    switch (status) {
        case kStatusSuccess:
            return ERROR_SUCCESS;
        case kStatusBufferOverflow:
            return ERROR_MORE_DATA;
        case kStatusHandlesClosed:
            return ERROR_HANDLES_CLOSED;
        case kStatusPipeBroken:
            return ERROR_BROKEN_PIPE;
        case kStatusPipeDisconnected:
            return ERROR_PIPE_NOT_CONNECTED;
        case kStatusPipeClosing:
            return ERROR_NO_DATA;
        case kStatusPipeListening:
            return ERROR_PIPE_LISTENING;
        case kStatusNoMemory:
            return ERROR_NOT_ENOUGH_MEMORY;
        case kStatusInvalidPipeState:
            return ERROR_BAD_PIPE;
        case kStatusCancelled:
            return ERROR_OPERATION_ABORTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

std::shared_ptr<KernelObject> palStartOverlapped(LPOVERLAPPED overlapped) {
    __atomic_store_n(&overlapped->Internal, ULONG_PTR{STATUS_PENDING}, __ATOMIC_RELEASE);
    overlapped->InternalHigh = 0;
    // A set low bit only keeps Windows from posting to a completion port.
    HANDLE handle = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(overlapped->hEvent) &
                                             ~uintptr_t{1});
    std::shared_ptr<KernelObject> event = handle != nullptr ? palEventObject(handle) : nullptr;
    if (event) {
        palSignalEvent(*event, false);
    }
    return event;
}

void palCompleteOverlapped(LPOVERLAPPED overlapped, uint32_t status, DWORD bytes,
                           KernelObject* event) {
    __atomic_store_n(&overlapped->InternalHigh, static_cast<ULONG_PTR>(bytes), __ATOMIC_RELAXED);
    __atomic_store_n(&overlapped->Internal, static_cast<ULONG_PTR>(status), __ATOMIC_RELEASE);
    if (event != nullptr) {
        palSignalEvent(*event, true);
    }
}

BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD bytesTransferred,
                         BOOL wait) {
    if (overlapped == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    (void)file;
    if (!HasOverlappedIoCompleted(overlapped)) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        HANDLE event = reinterpret_cast<HANDLE>(
            reinterpret_cast<uintptr_t>(overlapped->hEvent) & ~uintptr_t{1});
        if (event != nullptr) {
            WaitForSingleObject(event, INFINITE);
        }
        // Without an event, or if the caller reset it, watch the record itself.
        while (!HasOverlappedIoCompleted(overlapped)) {
            Sleep(1);
        }
    }
    uint32_t status = static_cast<uint32_t>(__atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE));
    if (bytesTransferred != nullptr) {
        *bytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    if (status != kStatusSuccess) {
        SetLastError(palPipeStatusToError(status));
        return FALSE;
    }
    return TRUE;
}
