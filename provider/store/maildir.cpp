// SPDX-License-Identifier: MIT
#include "provider/store/maildir.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "provider/com/diagnostics.h"

namespace mb::provider {

std::string newFolderName(const std::string& name) {
    return name.substr(0, name.find(':'));
}

HRESULT syncDirectory(const std::string& dir) {
    ScopedFd handle(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.get() < 0 || ::fsync(handle.get()) != 0) {
        return mapiFromErrno(errno);
    }
    return S_OK;
}

HRESULT mapiFromErrno(int err) {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return MAPI_E_NOT_ENOUGH_DISK;
        case EACCES:
        case EPERM:
        case EROFS:
            return MAPI_E_NO_ACCESS;
        case ENOMEM:
            return MAPI_E_NOT_ENOUGH_MEMORY;
        default:
            return MAPI_E_DISK_ERROR;
    }
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::size_t removeStaleTemporaries(const std::string& storePath, std::time_t now) {
    namespace fs = std::filesystem;
    const std::time_t cutoff = now - static_cast<std::time_t>(kStaleTemporaryAge.count());
    std::size_t removed = 0;
    std::error_code error;
    for (fs::directory_iterator folder(storePath, error), end; !error && folder != end;
         folder.increment(error)) {
        const std::string tmp = folder->path().string() + "/tmp";
        const ScopedFd dir(::open(tmp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
        if (dir.get() < 0) {
            continue;  // not a Maildir folder (.retry, forms, a stray file)
        }
        std::size_t here = 0;
        std::error_code listError;
        for (fs::directory_iterator file(tmp, listError); !listError && file != end;
             file.increment(listError)) {
            const std::string name = file->path().filename().string();
            struct stat info {};
            if (::fstatat(dir.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(info.st_mode) || info.st_mtime >= cutoff) {
                continue;
            }
            if (::unlinkat(dir.get(), name.c_str(), 0) == 0) {
                ++here;
            } else if (errno != ENOENT) {
                reportProblem("cannot remove " + tmp + "/" + name + ", left by an interrupted " +
                              "write: " + std::strerror(errno));
            }
        }
        if (here > 0) {
            reportProblem("removed " + std::to_string(here) + " file(s) older than 36 hours from " +
                          tmp + ", left by interrupted writes");
            removed += here;
        }
    }
    return removed;
}

HRESULT Maildir::ensure() const {
    for (const char* sub : {"tmp", "new", "cur"}) {
        std::error_code error;
        std::filesystem::create_directories(path_ + "/" + sub, error);
        if (error) {
            return mapiFromErrno(error.value());
        }
    }
    return S_OK;
}

HRESULT Maildir::openScratch(ScopedFd& out) const {
    HRESULT hr = ensure();
    if (FAILED(hr)) {
        return hr;
    }
    const std::string tmp = path_ + "/tmp";
    int fd = ::open(tmp.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // File systems without O_TMPFILE: a named file, unlinked at once.
        std::string path = tmp + "/" + uniqueMaildirName() + ".part";
        fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::unlink(path.c_str());
        }
    }
    if (fd < 0) {
        return mapiFromErrno(errno);
    }
    out.reset(fd);
    return S_OK;
}

HRESULT Maildir::deliver(const std::function<HRESULT(int fd)>& writer, std::string& finalPath,
                         const std::string& replace) const {
    HRESULT hr = ensure();
    if (FAILED(hr)) {
        return hr;
    }
    const std::string name = uniqueMaildirName();
    const std::string tmpPath = path_ + "/tmp/" + name;
    // Readable too: a writer may check what it wrote before it is filed.
    ScopedFd file(::open(tmpPath.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600));
    if (file.get() < 0) {
        return mapiFromErrno(errno);
    }
    hr = writer(file.get());
    if (SUCCEEDED(hr) && ::fsync(file.get()) != 0) {
        hr = mapiFromErrno(errno);
    }
    if (SUCCEEDED(hr) && ::close(file.release()) != 0) {
        hr = mapiFromErrno(errno);
    }
    const std::string target = replace.empty() ? path_ + "/new/" + name : replace;
    if (SUCCEEDED(hr) && ::rename(tmpPath.c_str(), target.c_str()) != 0) {
        hr = mapiFromErrno(errno);
    }
    if (FAILED(hr)) {
        ::unlink(tmpPath.c_str());
        return hr;
    }
    finalPath = target;
    return syncDirectory(path_ + "/new");
}

}  // namespace mb::provider
