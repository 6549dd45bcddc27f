// SPDX-License-Identifier: MIT
#include "provider/store/stream.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "provider/store/attach.h"

namespace mb::provider {
namespace {

HRESULT streamError(int err) {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return STG_E_MEDIUMFULL;
        case EACCES:
        case EPERM:
            return STG_E_ACCESSDENIED;
        default:
            return STG_E_WRITEFAULT;
    }
}

}  // namespace

Stream* Stream::create(Attach* owner, std::shared_ptr<ScopedFd> file, bool writable) {
    return new Stream(owner, std::move(file), writable);
}

Stream::Stream(Attach* owner, std::shared_ptr<ScopedFd> file, bool writable)
    : owner_(owner), file_(std::move(file)), writable_(writable) {
    owner_->AddRef();
}

Stream::~Stream() {
    owner_->Release();
}

HRESULT Stream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead != nullptr) {
        *pcbRead = 0;
    }
    if (pv == nullptr && cb > 0) {
        return STG_E_INVALIDPOINTER;
    }
    std::lock_guard<std::mutex> guard(lock_);
    ULONG total = 0;
    while (total < cb) {
        ssize_t got = ::pread(file_->get(), static_cast<char*>(pv) + total, cb - total,
                              static_cast<off_t>(position_));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return STG_E_READFAULT;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<ULONG>(got);
        position_ += static_cast<std::uint64_t>(got);
    }
    if (pcbRead != nullptr) {
        *pcbRead = total;
    }
    return S_OK;
}

HRESULT Stream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (pcbWritten != nullptr) {
        *pcbWritten = 0;
    }
    if (!writable_) {
        return STG_E_ACCESSDENIED;
    }
    if (pv == nullptr && cb > 0) {
        return STG_E_INVALIDPOINTER;
    }
    std::lock_guard<std::mutex> guard(lock_);
    ULONG total = 0;
    while (total < cb) {
        ssize_t put = ::pwrite(file_->get(), static_cast<const char*>(pv) + total, cb - total,
                               static_cast<off_t>(position_));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            // What was written stays counted, so the caller sees how far it got.
            if (pcbWritten != nullptr) {
                *pcbWritten = total;
            }
            return streamError(errno);
        }
        total += static_cast<ULONG>(put);
        position_ += static_cast<std::uint64_t>(put);
    }
    if (pcbWritten != nullptr) {
        *pcbWritten = total;
    }
    return S_OK;
}

HRESULT Stream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) {
    std::lock_guard<std::mutex> guard(lock_);
    std::int64_t base = 0;
    switch (dwOrigin) {
        case STREAM_SEEK_SET:
            break;
        case STREAM_SEEK_CUR:
            base = static_cast<std::int64_t>(position_);
            break;
        case STREAM_SEEK_END: {
            struct stat info {};
            if (::fstat(file_->get(), &info) != 0) {
                return STG_E_READFAULT;
            }
            base = info.st_size;
            break;
        }
        default:
            return STG_E_INVALIDFUNCTION;
    }
    const std::int64_t move = dlibMove.QuadPart;
    if ((move < 0 && base + move < 0) || (move > 0 && base > INT64_MAX - move)) {
        return STG_E_INVALIDFUNCTION;
    }
    position_ = static_cast<std::uint64_t>(base + move);
    if (plibNewPosition != nullptr) {
        plibNewPosition->QuadPart = position_;
    }
    return S_OK;
}

HRESULT Stream::SetSize(ULARGE_INTEGER libNewSize) {
    if (!writable_) {
        return STG_E_ACCESSDENIED;
    }
    if (libNewSize.QuadPart > static_cast<std::uint64_t>(INT64_MAX)) {
        return STG_E_INVALIDFUNCTION;
    }
    if (::ftruncate(file_->get(), static_cast<off_t>(libNewSize.QuadPart)) != 0) {
        return streamError(errno);
    }
    return S_OK;
}

HRESULT Stream::Commit(DWORD) {
    if (writable_) {
        owner_->commitData(file_);
    }
    return S_OK;
}

HRESULT Stream::Stat(STATSTG* pstatstg, DWORD) {
    if (pstatstg == nullptr) {
        return STG_E_INVALIDPOINTER;
    }
    struct stat info {};
    if (::fstat(file_->get(), &info) != 0) {
        return STG_E_READFAULT;
    }
    std::memset(pstatstg, 0, sizeof *pstatstg);
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = static_cast<std::uint64_t>(info.st_size);
    pstatstg->grfMode = writable_ ? STGM_READWRITE : STGM_READ;
    return S_OK;
}

// Writes reach the file at once, so there is nothing to revert to; the
// rest MAPI's callers do not use.
HRESULT Stream::Revert() {
    return STG_E_INVALIDFUNCTION;
}
HRESULT Stream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) {
    return STG_E_INVALIDFUNCTION;
}
HRESULT Stream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}
HRESULT Stream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}
HRESULT Stream::Clone(IStream** ppstm) {
    if (ppstm != nullptr) {
        *ppstm = nullptr;
    }
    return STG_E_INVALIDFUNCTION;
}

}  // namespace mb::provider
