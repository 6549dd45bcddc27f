// SPDX-License-Identifier: MIT
// Regular files, for reading, and the running program's own path.
#pragma once

#include "pal/types.h"

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#ifndef ERROR_FILENAME_EXCED_RANGE
#define ERROR_FILENAME_EXCED_RANGE 206L
#endif
#ifndef ERROR_CANT_RESOLVE_FILENAME
#define ERROR_CANT_RESOLVE_FILENAME 1921L
#endif

// Opens an existing regular file for reading (GENERIC_READ, OPEN_EXISTING);
// paths are POSIX paths. Only regular files open: a directory fails with
// ERROR_ACCESS_DENIED, as on Windows without FILE_FLAG_BACKUP_SEMANTICS, and so
// do a device, a FIFO and a socket (they exist, but are not files to read),
// without blocking and without being opened. ERROR_PATH_NOT_FOUND when a
// folder of the path is missing (or the path is empty), ERROR_ACCESS_DENIED for
// a file the user may not read. Other access modes and dispositions, and
// FILE_FLAG_OVERLAPPED, fail with ERROR_INVALID_PARAMETER; the share mode is
// not enforced. ReadFile (pal/pipe.h) reads the handle synchronously, without
// an OVERLAPPED (ERROR_INVALID_PARAMETER with one), and returns fewer bytes
// than asked only at the end of the file: 0 bytes with TRUE means the end.
// WriteFile fails with ERROR_ACCESS_DENIED. CloseHandle closes it.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);

// The running program's path (module NULL) with '\' as the separator, as
// Windows presents it. Returns the length without the terminator; when the
// buffer is too small, the path cut to size - 1 units and terminated, a return
// of `size` and ERROR_INSUFFICIENT_BUFFER. A module other than NULL:
// ERROR_MOD_NOT_FOUND.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);

// The size of an open file as it is now, which may differ from what was
// there when it was opened. A handle that is not a file: ERROR_INVALID_HANDLE.
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);

// An open file's times as they are now: creation (the inode's change time on
// POSIX), last access and last write; any pointer may be null. A handle that
// is not a file: ERROR_INVALID_HANDLE.
BOOL GetFileTime(HANDLE file, LPFILETIME creationTime, LPFILETIME lastAccessTime,
                 LPFILETIME lastWriteTime);
