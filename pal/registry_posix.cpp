// SPDX-License-Identifier: MIT
// The read-only registry: HKEY_CURRENT_USER from the user's user.reg.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "pal/kernel_object.h"
#include "pal/registry_internal.h"
#include "pal/win32.h"

namespace {

// An open key: where it is, and its values as the file held them at the open.
class RegistryKey final : public KernelObject {
  public:
    RegistryKey(std::vector<std::u16string> path, REGSAM access, reg::Key key)
        : path_(std::move(path)), access_(access), key_(std::move(key)) {}

    const std::vector<std::u16string>& path() const { return path_; }
    REGSAM access() const { return access_; }
    const reg::Key& key() const { return key_; }

  private:
    std::vector<std::u16string> path_;
    REGSAM access_;
    reg::Key key_;
};

constexpr REGSAM kMaximumAllowed = 0x02000000u;
constexpr REGSAM kReadOnly = KEY_READ | KEY_WOW64_64KEY | KEY_WOW64_32KEY | GENERIC_READ |
                             kMaximumAllowed;
constexpr REGSAM kMayQuery = KEY_QUERY_VALUE | GENERIC_READ | kMaximumAllowed;
// A settings file, not a hive: anything larger is not read.
constexpr off_t kMaxFileSize = 64 << 20;

// Registry calls answer through their result; the caller's last error stays.
class KeepLastError {
  public:
    KeepLastError() : saved_(GetLastError()) {}
    ~KeepLastError() { SetLastError(saved_); }

  private:
    DWORD saved_;
};

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "";
}

std::string userRegPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder = config != nullptr && config[0] == '/' ? config : homeFolder() + "/.config";
    return folder + "/winpal/user.reg";
}

// The file's bytes; nothing when it is missing, unreadable, not a regular file
// (a FIFO must not hold the caller) or too large.
std::string readUserReg() {
    std::string bytes;
    int fd = ::open(userRegPath().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return bytes;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileSize) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);  // a file cut short meanwhile counts as it now is
    }
    ::close(fd);
    return bytes;
}

reg::Key readKey(const std::vector<std::u16string>& path) {
    return reg::FindKey(reg::DecodeText(readUserReg()), path);
}

enum class Root { kCurrentUser, kEmpty, kNone };

// HKEY_CURRENT_USER is the file; the other predefined keys are empty here.
Root predefinedRoot(HKEY key) {
    if (key == HKEY_CURRENT_USER) {
        return Root::kCurrentUser;
    }
    for (HKEY other : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE,
                       reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(LONG(0x80000003))),
                       reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(LONG(0x80000005)))}) {
        if (key == other) {
            return Root::kEmpty;
        }
    }
    return Root::kNone;
}

// Appends the folded names of `subKey`; false for an empty name inside it (a
// trailing '\' is allowed).
bool appendPath(LPCWSTR subKey, std::vector<std::u16string>& path) {
    if (subKey == nullptr) {
        return true;
    }
    std::u16string_view rest(subKey);
    while (!rest.empty()) {
        size_t slash = rest.find(u'\\');
        std::u16string_view name = rest.substr(0, slash);
        if (name.empty()) {
            return false;
        }
        path.push_back(reg::Fold(std::u16string(name)));
        rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);
    }
    return true;
}

std::shared_ptr<RegistryKey> lookupKey(HKEY key) {
    return std::dynamic_pointer_cast<RegistryKey>(palLookupHandle(reinterpret_cast<HANDLE>(key)));
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD /*options*/, REGSAM samDesired,
                      PHKEY result) {
    KeepLastError keep;
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    try {
        std::vector<std::u16string> path;
        Root root = predefinedRoot(key);
        if (root == Root::kNone) {
            std::shared_ptr<RegistryKey> parent = lookupKey(key);
            if (!parent) {
                return ERROR_INVALID_HANDLE;
            }
            path = parent->path();
        }
        if (root == Root::kEmpty || !appendPath(subKey, path)) {
            return ERROR_FILE_NOT_FOUND;
        }
        reg::Key found = readKey(path);
        if (!found.exists && !path.empty()) {
            return ERROR_FILE_NOT_FOUND;
        }
        if ((samDesired & ~kReadOnly) != 0) {
            return ERROR_ACCESS_DENIED;
        }
        HANDLE handle = palInsertHandle(
            std::make_shared<RegistryKey>(std::move(path), samDesired, std::move(found)));
        if (handle == nullptr) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        *result = reinterpret_cast<HKEY>(handle);
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                         LPBYTE data, LPDWORD cbData) {
    KeepLastError keep;
    try {
        std::shared_ptr<RegistryKey> open;
        reg::Key rootKey;
        const reg::Key* values = &rootKey;
        REGSAM access = KEY_READ;
        switch (predefinedRoot(key)) {
            case Root::kCurrentUser:
                rootKey = readKey({});
                break;
            case Root::kEmpty:
                break;
            case Root::kNone:
                open = lookupKey(key);
                if (!open) {
                    return ERROR_INVALID_HANDLE;
                }
                values = &open->key();
                access = open->access();
                break;
        }
        if (reserved != nullptr || (data != nullptr && cbData == nullptr)) {
            return ERROR_INVALID_PARAMETER;
        }
        if ((access & kMayQuery) == 0) {
            return ERROR_ACCESS_DENIED;
        }
        auto it = values->values.find(reg::Fold(valueName != nullptr ? valueName : u""));
        if (it == values->values.end()) {
            return ERROR_FILE_NOT_FOUND;
        }
        const reg::Value& value = it->second;
        const auto size = static_cast<DWORD>(value.data.size());
        if (type != nullptr) {
            *type = value.type;
        }
        if (data != nullptr && *cbData < size) {
            *cbData = size;
            return ERROR_MORE_DATA;
        }
        if (data != nullptr && size > 0) {
            std::memcpy(data, value.data.data(), size);
        }
        if (cbData != nullptr) {
            *cbData = size;
        }
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LSTATUS RegCloseKey(HKEY key) {
    KeepLastError keep;
    if (predefinedRoot(key) != Root::kNone) {
        return ERROR_SUCCESS;
    }
    if (!lookupKey(key) || !palRemoveHandle(reinterpret_cast<HANDLE>(key))) {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}
