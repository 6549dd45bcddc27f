// SPDX-License-Identifier: MIT
// Naming the attachment a failed SendMail could not read. The Broker writes no
// log, and its reply carries only a status; the client knows the paths it
// sent and can look at them itself.
#pragma once

#include <string>
#include <vector>

#include "pal/win32.h"

// True when `path` is a regular file this process can open and whose size
// tells its whole content (a /proc file or a file without read permission
// is not, nor a FIFO or a directory).
bool attachmentReadable(const std::string& path);

// The paths of the "attachment" parameter of a SendMail request text, in order.
std::vector<std::string> sentAttachments(const std::string& request);

// The attachments a SendMail whose status is `status` could not read: none
// unless the status is MAPI_E_NOT_FOUND or MAPI_E_NO_ACCESS; the one sent,
// when there was one; else those `readable` refuses now (none, when the file
// that failed has since become readable again).
std::vector<std::string> unreadableAttachments(
    HRESULT status, const std::vector<std::string>& sent,
    bool (*readable)(const std::string&) = attachmentReadable);

// What to add to the failure of a SendMail whose status is `status`: for
// MAPI_E_NOT_FOUND and MAPI_E_NO_ACCESS with attachments, which of them
// cannot be read, e.g. "attachment /x/y.pdf cannot be read"; empty when the
// status says nothing about files. `readable` is attachmentReadable, or a
// stand-in in tests.
std::string attachmentFailureNote(HRESULT status, const std::vector<std::string>& sent,
                                  bool (*readable)(const std::string&) = attachmentReadable);
