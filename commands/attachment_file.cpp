// SPDX-License-Identifier: MIT
#include "commands/attachment_file.h"

#include <algorithm>
#include <vector>

#include "pal/scoped_handle.h"

namespace {

constexpr DWORD kReadBlock = 4096;
// A write that stores nothing without saying why.
constexpr HRESULT kStreamTookNothing = static_cast<HRESULT>(0x80044005);

// The open failures that mean nothing readable is at the path: nothing there,
// a missing folder, a link that leads nowhere or in a loop, a name too long to
// exist. Every other failure means something is there that cannot be read.
HRESULT openFailure(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_CANT_RESOLVE_FILENAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_INVALID_NAME:
            return MAPI_E_NOT_FOUND;
        default:
            return MAPI_E_NO_ACCESS;
    }
}

struct FileState {
    LONGLONG size = 0;
    FILETIME written{};
};

bool readState(HANDLE file, FileState& state) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || !GetFileTime(file, nullptr, nullptr, &state.written)) {
        return false;
    }
    state.size = size.QuadPart;
    return true;
}

bool sameState(const FileState& a, const FileState& b) {
    return a.size == b.size && a.written.dwLowDateTime == b.written.dwLowDateTime &&
           a.written.dwHighDateTime == b.written.dwHighDateTime;
}

// Writes all of a block; false (with the reason in `copy`) when the stream fails.
bool writeAll(IStream* stream, const BYTE* at, DWORD count, AttachmentCopy& copy) {
    while (count > 0) {
        ULONG written = 0;
        const HRESULT result = stream->Write(at, count, &written);
        if (result < 0 || written == 0) {
            copy.stream = result < 0 ? result : kStreamTookNothing;
            return false;
        }
        written = std::min<ULONG>(written, count);
        at += written;
        count -= written;
    }
    return true;
}

}  // namespace

AttachmentCopy copyAttachmentFile(const WCHAR* path, IStream* stream) {
    AttachmentCopy copy;
    const mb::ScopedFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        copy.file = openFailure(GetLastError());
        return copy;
    }
    FileState opened;
    if (!readState(file.get(), opened)) {
        copy.file = MAPI_E_NO_ACCESS;
        return copy;
    }
    // Exactly the size seen at the open: a file that shrinks, grows or is
    // rewritten meanwhile would otherwise leave as a torn copy, and files
    // whose size says nothing of their content (those of /proc) are caught
    // by the extra byte they still hand out.
    std::vector<BYTE> block(kReadBlock);
    LONGLONG left = opened.size;
    while (left > 0) {
        const DWORD want = static_cast<DWORD>(std::min<LONGLONG>(left, kReadBlock));
        DWORD got = 0;
        if (!ReadFile(file.get(), block.data(), want, &got, nullptr) || got != want) {
            copy.file = MAPI_E_NO_ACCESS;
            return copy;
        }
        if (!writeAll(stream, block.data(), got, copy)) {
            return copy;
        }
        left -= got;
    }
    DWORD extra = 0;
    FileState after;
    if (!ReadFile(file.get(), block.data(), 1, &extra, nullptr) || extra != 0 ||
        !readState(file.get(), after) || !sameState(opened, after)) {
        copy.file = MAPI_E_NO_ACCESS;
    }
    return copy;
}
