// SPDX-License-Identifier: MIT
// The Microsoft runtime's in-place tokenizers and its path splitter.
#include <cerrno>
#include <cstring>

#include "pal/wide_crt.h"

namespace {

template <typename C>
bool IsDelimiter(C c, const C* delimiters) {
    for (const C* d = delimiters; *d != 0; ++d) {
        if (*d == c) {
            return true;
        }
    }
    return false;
}

template <typename C>
C* Tokenize(C* str, const C* delimiters, C** context) {
    if (delimiters == nullptr || context == nullptr || (str == nullptr && *context == nullptr)) {
        errno = EINVAL;
        return nullptr;
    }
    C* p = str != nullptr ? str : *context;
    while (*p != 0 && IsDelimiter(*p, delimiters)) {
        ++p;
    }
    if (*p == 0) {
        *context = p;
        return nullptr;
    }
    C* token = p;
    while (*p != 0 && !IsDelimiter(*p, delimiters)) {
        ++p;
    }
    if (*p != 0) {
        *p++ = 0;
    }
    *context = p;
    return token;
}

// One output of _wsplitpath_s: a null buffer wants nothing, any other must
// hold the part and its terminator.
struct Part {
    WCHAR* buffer;
    size_t count;
    const WCHAR* begin = nullptr;
    const WCHAR* end = nullptr;

    bool Valid() const { return (buffer == nullptr) == (count == 0); }
    bool Fits() const { return buffer == nullptr || static_cast<size_t>(end - begin) < count; }
    void Store() const {
        if (buffer != nullptr) {
            std::memcpy(buffer, begin, static_cast<size_t>(end - begin) * sizeof(WCHAR));
            buffer[end - begin] = 0;
        }
    }
    void Clear() const {
        if (buffer != nullptr) {
            buffer[0] = 0;
        }
    }
};

}  // namespace

WCHAR* wcstok_s(WCHAR* str, const WCHAR* delimiters, WCHAR** context) {
    return Tokenize(str, delimiters, context);
}

char* strtok_s(char* str, const char* delimiters, char** context) {
    return Tokenize(str, delimiters, context);
}

errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveCount, WCHAR* dir,
                      size_t dirCount, WCHAR* fname, size_t nameCount, WCHAR* ext,
                      size_t extCount) {
    Part parts[] = {{drive, driveCount}, {dir, dirCount}, {fname, nameCount}, {ext, extCount}};
    for (const Part& part : parts) {
        if (!part.Valid()) {
            errno = EINVAL;
            return EINVAL;
        }
    }
    if (path == nullptr) {
        for (const Part& part : parts) {
            part.Clear();
        }
        errno = EINVAL;
        return EINVAL;
    }
    const WCHAR* end = path + wcslen(path);
    const WCHAR* nameStart = path;
    const WCHAR* lastDot = nullptr;
    for (const WCHAR* p = path; p != end; ++p) {
        if (*p == u'\\' || *p == u'/') {
            nameStart = p + 1;
            lastDot = nullptr;
        } else if (*p == u'.') {
            lastDot = p;
        }
    }
    const WCHAR* extStart = lastDot != nullptr ? lastDot : end;
    Part& driveP = parts[0];
    Part& dirP = parts[1];
    Part& nameP = parts[2];
    Part& extP = parts[3];
    driveP.begin = driveP.end = path;  // no drive letters on POSIX
    dirP.begin = path;
    dirP.end = nameStart;
    nameP.begin = nameStart;
    nameP.end = extStart;
    extP.begin = extStart;
    extP.end = end;
    for (const Part& part : parts) {
        if (!part.Fits()) {
            for (const Part& each : parts) {
                each.Clear();
            }
            errno = ERANGE;
            return ERANGE;
        }
    }
    for (const Part& part : parts) {
        part.Store();
    }
    return 0;
}
