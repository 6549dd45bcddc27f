// SPDX-License-Identifier: MIT
// Internal to the POSIX layer: the object behind a regular file's handle, and
// the path conversion the file and shell calls share. Not included by
// mailbroker code, which sees only pal/win32.h.
#pragma once

#include <string>

#include "pal/kernel_object.h"
#include "pal/win32.h"

// An open regular file, read synchronously from its own position.
class RegularFile final : public KernelObject {
  public:
    explicit RegularFile(int fd) : fd_(fd) {}
    ~RegularFile() override;

    // ReadFile on this handle: fills the buffer unless the file ends first.
    BOOL read(BYTE* buffer, DWORD size, LPDWORD count, LPOVERLAPPED overlapped);
    // GetFileSizeEx and GetFileTime on this handle, from a fresh fstat.
    BOOL size(PLARGE_INTEGER size) const;
    BOOL times(LPFILETIME creation, LPFILETIME access, LPFILETIME write) const;

  private:
    int fd_;
};

// The UTF-8 form of a UTF-16 path. False for a lone surrogate, which no file
// name on a UTF-8 file system can hold, or when memory runs out.
bool palPathToUtf8(LPCWSTR path, std::string& utf8);
