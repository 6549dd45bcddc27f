// SPDX-License-Identifier: MIT
// IStream over an attachment's scratch file. Reads and writes use their own
// position (pread/pwrite), so the renderer reading the same file never moves
// it. Writes go to the file at once; Commit makes the file the attachment's
// data, and a stream released uncommitted leaves the attachment as it was.
#pragma once

#include <memory>
#include <mutex>

#include "provider/com/com_object.h"
#include "provider/store/maildir.h"

namespace mb::provider {

class Attach;

class Stream final : public ComObject<IStream, IID_IStream> {
  public:
    // owner (referenced until release) receives the file on Commit.
    static Stream* create(Attach* owner, std::shared_ptr<ScopedFd> file, bool writable);

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                   ULARGE_INTEGER* plibNewPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override;

  private:
    Stream(Attach* owner, std::shared_ptr<ScopedFd> file, bool writable);
    ~Stream() override;

    Attach* const owner_;
    const std::shared_ptr<ScopedFd> file_;
    const bool writable_;
    std::mutex lock_;
    std::uint64_t position_ = 0;
};

}  // namespace mb::provider
