// SPDX-License-Identifier: MIT
// Reading a file named by the host into an attachment's data stream.
#pragma once

#include "mapi/mapi.h"

// How copying one file went: the file's part and the stream's part apart, as
// the caller treats them differently.
struct AttachmentCopy {
    // S_OK when the whole file went in; MAPI_E_NOT_FOUND when nothing is at
    // the path (or a link leads nowhere, or in a loop); MAPI_E_NO_ACCESS when
    // something is there that cannot be read as one regular file from start to
    // end: a directory, a device, a FIFO, a file without read permission, a
    // read error, or a file that changed while it was read.
    HRESULT file = S_OK;
    // The first failure of the stream (a Write that failed or took nothing).
    HRESULT stream = S_OK;
};

// Copies the regular file at `path` into `stream`, block by block. The file
// is read to exactly the size it had when it was opened: fewer bytes, more
// bytes, or a size or last-write time that differs after the last read make
// the copy a failure (what the stream received by then stays there).
AttachmentCopy copyAttachmentFile(const WCHAR* path, IStream* stream);
