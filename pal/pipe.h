// SPDX-License-Identifier: MIT
// Named pipes and overlapped I/O.
//
// A pipe "\\.\pipe\NAME" is a Unix stream socket in a per-user directory; each
// message travels as a 4-byte little-endian length and its bytes, so that one
// WriteFile is one message at the other end, as on Windows.
//
// An operation the socket allows at once finishes in the call, as Windows
// completes a transfer into or out of the pipe's buffer at once. The others
// return ERROR_IO_PENDING and are finished by the layer's one I/O thread, which
// stores the result in the OVERLAPPED and then sets its event; a synchronous
// call waits for the same. Closing a handle ends its pending operations: a read
// or write completes with ERROR_BROKEN_PIPE, a connect with ERROR_HANDLES_CLOSED.
// Messages are 0 to 2 GiB long; a peer that sends a longer length, or leaves in
// the middle of a message, breaks the pipe (ERROR_BROKEN_PIPE).
#pragma once

#include "pal/types.h"

#ifndef ERROR_NOT_FOUND
#define ERROR_NOT_FOUND 1168L
#endif

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_FIRST_PIPE_INSTANCE 0x00080000u

#define PIPE_ACCESS_INBOUND 0x00000001u
#define PIPE_ACCESS_OUTBOUND 0x00000002u
#define PIPE_ACCESS_DUPLEX 0x00000003u
#define PIPE_TYPE_BYTE 0x00000000u
#define PIPE_TYPE_MESSAGE 0x00000004u
#define PIPE_READMODE_BYTE 0x00000000u
#define PIPE_READMODE_MESSAGE 0x00000002u
#define PIPE_WAIT 0x00000000u
#define PIPE_NOWAIT 0x00000001u
#define PIPE_ACCEPT_REMOTE_CLIENTS 0x00000000u
#define PIPE_REJECT_REMOTE_CLIENTS 0x00000008u
#define PIPE_UNLIMITED_INSTANCES 255u

#define NMPWAIT_USE_DEFAULT_WAIT 0x00000000u
#define NMPWAIT_WAIT_FOREVER 0xFFFFFFFFu

// Windows' layout: Internal holds the operation's status (STATUS_PENDING while it
// runs), InternalHigh the bytes transferred.
// Offset and OffsetHigh are members of an anonymous struct, as in Windows'
// headers, so code written for Windows compiles unchanged.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnested-anon-types"
#pragma clang diagnostic ignored "-Wgnu-anonymous-struct"
#endif
typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        __extension__ struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#define STATUS_PENDING 0x00000103u
#define HasOverlappedIoCompleted(ov) \
    (__atomic_load_n(&(ov)->Internal, __ATOMIC_ACQUIRE) != STATUS_PENDING)

// openMode: PIPE_ACCESS_DUPLEX, optionally with FILE_FLAG_OVERLAPPED; pipeMode:
// PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT or the byte-mode forms.
// The buffer sizes and the default time-out are accepted and not used. The
// first instance's security descriptor guards the name: a connecting peer is
// admitted when the DACL grants its user, its primary group, Everyone or
// Authenticated Users read and write together and no deny entry refuses. Without a descriptor, or when it has
// no DACL, only the current user is admitted. A descriptor that is not
// self-relative and well formed fails with ERROR_INVALID_SECURITY_DESCR.
HANDLE CreateNamedPipeA(LPCSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                        DWORD outBufferSize, DWORD inBufferSize, DWORD defaultTimeOut,
                        LPSECURITY_ATTRIBUTES securityAttributes);

// With an overlapped handle and record: FALSE with ERROR_IO_PENDING until a
// client arrives, then the record's event is set. FALSE with ERROR_PIPE_CONNECTED
// when a client came first, ERROR_NO_DATA when it has already gone again (the
// instance must then be disconnected before it can serve another client). One
// connect may wait per instance: a second fails with ERROR_INVALID_PARAMETER,
// where Windows would queue it.
BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped);
// Ends the instance's connection, or its wait for one: a pending connect
// completes with ERROR_PIPE_NOT_CONNECTED, pending transfers likewise. The
// client then sees a closed pipe (ERROR_BROKEN_PIPE, ERROR_NO_DATA).
BOOL DisconnectNamedPipe(HANDLE pipe);

// Opens the client end of a pipe. Only pipe paths are supported here; any other
// path fails with ERROR_NOT_SUPPORTED. ERROR_FILE_NOT_FOUND when no such pipe
// exists, ERROR_PIPE_BUSY when no instance waits for a client.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);

// TRUE once an instance waits for a client; ERROR_SEM_TIMEOUT after the time-out
// (NMPWAIT_USE_DEFAULT_WAIT waits 50 ms), ERROR_FILE_NOT_FOUND for no such pipe.
BOOL WaitNamedPipeA(LPCSTR name, DWORD timeOut);

// Only the read mode can be changed; collection counts must be null.
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount,
                             LPDWORD collectDataTimeout);

// A read shorter than the message fails with ERROR_MORE_DATA and leaves the rest
// for the next read; on an overlapped handle its count is then only in the
// record. A write of more than 2 GiB fails with ERROR_INVALID_PARAMETER.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD bytesTransferred,
                         BOOL wait);
// Waits until the other end has read everything written to it, or has gone;
// TRUE also on an instance with no client.
BOOL FlushFileBuffers(HANDLE file);
// Copies without removing; any of the pointers may be null. With all of them
// null it tells whether the other end is still there: ERROR_BROKEN_PIPE once it
// has closed and nothing is left to read. ERROR_BAD_PIPE on an instance that
// is waiting for a client or disconnected.
BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD bufferSize, LPDWORD bytesRead,
                   LPDWORD totalBytesAvail, LPDWORD bytesLeftThisMessage);

// CancelIo ends the calling thread's pending operations on a handle, CancelIoEx
// those of any thread that use `overlapped` (all of them when it is null); they
// complete with ERROR_OPERATION_ABORTED. CancelIoEx fails with ERROR_NOT_FOUND
// when nothing matched. Here the record is final when the call returns, so it
// may go away at once; portable code still waits with GetOverlappedResult. A
// write that has begun to go out is finished from a copy and reported done, so
// that the peer never sees a cut message.
BOOL CancelIo(HANDLE file);
BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
