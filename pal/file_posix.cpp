// SPDX-License-Identifier: MIT
// Regular files opened for reading, and the program's own path.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "pal/file_internal.h"
#include "pal/utf_transcode.h"

namespace {

constexpr DWORD kReadAccess = GENERIC_READ;

// Windows' answer when no file of that name can be opened: the folder is
// missing, or only the file is.
DWORD missingError(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ERROR_FILE_NOT_FOUND;  // the current folder exists
    }
    std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                   : ERROR_PATH_NOT_FOUND;
}

DWORD openError(int err, const std::string& path) {
    switch (err) {
        case ENOENT:
            return missingError(path);
        case ENXIO:  // a socket, or a device without its driver
        case ENODEV:
            return ERROR_FILE_NOT_FOUND;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        default:
            return palErrorFromErrno(err);
    }
}

// Only regular files are files here. A directory refuses as Windows refuses
// one opened without FILE_FLAG_BACKUP_SEMANTICS; a device, a FIFO or a socket
// is there, but is no file to read either, so it refuses the same way and a
// caller can tell it from a name that leads nowhere.
DWORD kindError(mode_t mode) {
    return S_ISREG(mode) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Seconds and nanoseconds since 1970 as 100-ns units since 1601.
FILETIME fileTimeOf(const struct timespec& at) {
    constexpr int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970
    const uint64_t units = static_cast<uint64_t>(
        (static_cast<int64_t>(at.tv_sec) + kEpochDifference) * 10000000 + at.tv_nsec / 100);
    FILETIME out;
    out.dwLowDateTime = static_cast<DWORD>(units & 0xFFFFFFFFu);
    out.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return out;
}

HANDLE fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool palPathToUtf8(LPCWSTR path, std::string& utf8) {
    size_t length = wcslen(path);
    size_t bytes = 0;
    if (utf::ToUtf8(path, length, nullptr, 0, true, &bytes) != utf::Status::kOk) {
        return false;
    }
    try {
        utf8.resize(bytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    auto* out = reinterpret_cast<uint8_t*>(utf8.data());
    return utf::ToUtf8(path, length, out, bytes, true, &bytes) == utf::Status::kOk;
}

RegularFile::~RegularFile() {
    ::close(fd_);
}

BOOL RegularFile::read(BYTE* buffer, DWORD size, LPDWORD count, LPOVERLAPPED overlapped) {
    if (count != nullptr) {
        *count = 0;
    }
    if ((buffer == nullptr && size > 0) || overlapped != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A read comes back short only at the end of the file, as on Windows.
    DWORD done = 0;
    while (done < size) {
        ssize_t n = ::read(fd_, buffer + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            SetLastError(palErrorFromErrno(errno));
            return FALSE;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<DWORD>(n);
    }
    if (count != nullptr) {
        *count = done;
    }
    return TRUE;
}

BOOL RegularFile::size(PLARGE_INTEGER size) const {
    struct stat st {};
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::fstat(fd_, &st) != 0) {
        SetLastError(palErrorFromErrno(errno));
        return FALSE;
    }
    size->QuadPart = static_cast<LONGLONG>(st.st_size);
    return TRUE;
}

BOOL RegularFile::times(LPFILETIME creation, LPFILETIME access, LPFILETIME write) const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        SetLastError(palErrorFromErrno(errno));
        return FALSE;
    }
    if (creation != nullptr) {
        *creation = fileTimeOf(st.st_ctim);
    }
    if (access != nullptr) {
        *access = fileTimeOf(st.st_atim);
    }
    if (write != nullptr) {
        *write = fileTimeOf(st.st_mtim);
    }
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    std::shared_ptr<RegularFile> regular = palLookupHandleAs<RegularFile>(file);
    if (!regular) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return regular->size(size);
}

BOOL GetFileTime(HANDLE file, LPFILETIME creationTime, LPFILETIME lastAccessTime,
                 LPFILETIME lastWriteTime) {
    std::shared_ptr<RegularFile> regular = palLookupHandleAs<RegularFile>(file);
    if (!regular) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return regular->times(creationTime, lastAccessTime, lastWriteTime);
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD /*shareMode*/,
                   LPSECURITY_ATTRIBUTES /*securityAttributes*/, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE /*templateFile*/) {
    if (fileName == nullptr || fileName[0] == 0) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    if (desiredAccess != kReadAccess || creationDisposition != OPEN_EXISTING ||
        (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::string path;
    if (!palPathToUtf8(fileName, path)) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    // Looked at before opening, since opening some devices acts on them.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return fail(openError(errno, path));
    }
    if (DWORD error = kindError(st.st_mode); error != ERROR_SUCCESS) {
        return fail(error);
    }
    // O_NONBLOCK: should the name become a FIFO meanwhile, the open still
    // returns at once; fstat then refuses it.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return fail(openError(errno, path));
    }
    DWORD error = ::fstat(fd, &st) == 0 ? kindError(st.st_mode) : palErrorFromErrno(errno);
    if (error != ERROR_SUCCESS) {
        ::close(fd);
        return fail(error);
    }
    // Back to blocking reads: a file on a slow mount then waits for its data.
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    std::shared_ptr<RegularFile> object;
    try {
        object = std::make_shared<RegularFile>(fd);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    HANDLE handle = palInsertHandle(std::move(object));
    return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    if (module != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (fileName == nullptr && size > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string target;
    std::u16string wide;
    try {
        target.resize(256);
        for (;;) {
            ssize_t n = ::readlink("/proc/self/exe", target.data(), target.size());
            if (n < 0) {
                SetLastError(palErrorFromErrno(errno));
                return 0;
            }
            if (static_cast<size_t>(n) < target.size()) {
                target.resize(static_cast<size_t>(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        size_t units = 0;
        const auto* in = reinterpret_cast<const uint8_t*>(target.data());
        utf::ToUtf16(in, target.size(), nullptr, 0, false, &units);
        wide.resize(units);
        utf::ToUtf16(in, target.size(), wide.data(), units, false, &units);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    std::replace(wide.begin(), wide.end(), u'/', u'\\');
    if (wide.size() < size) {
        std::copy(wide.begin(), wide.end(), fileName);
        fileName[wide.size()] = 0;
        return static_cast<DWORD>(wide.size());
    }
    // Cut short: what fits, terminated, and the full size as the sign of it.
    if (size > 0) {
        std::copy_n(wide.begin(), size - 1, fileName);
        fileName[size - 1] = 0;
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}
