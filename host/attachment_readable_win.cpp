// SPDX-License-Identifier: MIT
// On Windows: what the Broker's CreateFileW would open and read (a file on
// disk, not a directory, a device or a pipe), opened as the Broker opens it.
#include <string>

#include "host/attachment_check.h"

bool attachmentReadable(const std::string& path) {
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (units <= 0) {
        return false;
    }
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, wide.data(), units);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool readable = false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        char probe = 0;
        DWORD got = 0;
        const bool empty = info.nFileSizeHigh == 0 && info.nFileSizeLow == 0;
        readable = empty || (ReadFile(file, &probe, 1, &got, nullptr) && got == 1);
    }
    CloseHandle(file);
    return readable;
}
