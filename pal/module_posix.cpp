// SPDX-License-Identifier: MIT
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "pal/win32.h"

namespace {

// Module handle values: 64 KiB apart like Windows' image bases, and above every
// value the handle table hands out (it stops below 2^26), so that CloseHandle
// and the waits refuse a module handle as Windows does.
constexpr uintptr_t kFirstModule = 0x10000000;
constexpr uintptr_t kModuleStride = 0x10000;

struct Loaded {
    void* library;
    uint64_t references;
};

struct Registry {
    std::mutex mutex;
    std::map<uintptr_t, Loaded> modules;
    uintptr_t next = kFirstModule;
};

// Never destroyed: libraries' own destructors may still free modules at exit.
Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

bool endsWithDll(const std::string& name) {
    if (name.size() < 4) {
        return false;
    }
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return tail == ".dll";
}

// The file a Windows library name stands for (see LoadLibraryA).
std::string fileFor(const std::string& name) {
    if (endsWithDll(name)) {
        return "lib" + name.substr(0, name.size() - 4) + ".so";
    }
    if (name.find('.') == std::string::npos) {
        return "lib" + name + ".so";
    }
    if (name.back() == '.') {
        return name.substr(0, name.size() - 1);
    }
    return name;
}

std::string programDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<size_t>(n));
            size_t slash = path.rfind('/');
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool isFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void* openLibrary(const std::string& name) {
    constexpr int kFlags = RTLD_NOW | RTLD_LOCAL;
    if (name.find('/') != std::string::npos) {
        return ::dlopen(name.c_str(), kFlags);
    }
    std::vector<std::string> files{fileFor(name)};
    std::string lower = files[0];
    for (char& c : lower) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (lower != files[0]) {
        files.push_back(lower);
    }
    // The first file found in the program's directory is the one, loadable or not.
    const std::string directory = programDirectory();
    if (!directory.empty()) {
        for (const std::string& file : files) {
            if (isFile(directory + file)) {
                return ::dlopen((directory + file).c_str(), kFlags);
            }
        }
    }
    for (const std::string& file : files) {
        if (void* library = ::dlopen(file.c_str(), kFlags)) {
            return library;
        }
    }
    return nullptr;
}

// Registers one more reference to a library dlopen returned; the caller's
// reference is dropped on failure.
HMODULE registerLibrary(void* library) {
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        try {
            for (auto& [value, loaded] : r.modules) {
                if (loaded.library == library) {
                    ++loaded.references;
                    return reinterpret_cast<HMODULE>(value);
                }
            }
            auto step = [](uintptr_t v) {
                return v + kModuleStride > v ? v + kModuleStride : kFirstModule;
            };
            while (r.modules.count(r.next) != 0) {
                r.next = step(r.next);
            }
            uintptr_t value = r.next;
            r.modules.emplace(value, Loaded{library, 1});
            r.next = step(value);
            return reinterpret_cast<HMODULE>(value);
        } catch (const std::bad_alloc&) {
        }
    }
    // Outside the lock: unloading runs the library's destructors.
    ::dlclose(library);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// True if the address lies in the library itself rather than in one it depends on.
bool definedBy(void* library, void* address) {
    link_map* own = nullptr;
    link_map* holder = nullptr;
    Dl_info info;
    return ::dlinfo(library, RTLD_DI_LINKMAP, &own) == 0 &&
           ::dladdr1(address, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) != 0 &&
           own == holder;
}

// A failed dlopen or dlsym leaves an error record that the C library keeps
// per thread until dlerror has been read past it or the thread has ended. A
// thread that is still ending as its process exits takes the record with it
// unfreed, which leak checkers report; reading past the error frees it now.
void discardLoaderError() {
    for (int i = 0; i < 2 && ::dlerror() != nullptr; ++i) {
    }
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr || fileName[0] == '\0') {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* library = nullptr;
    try {
        library = openLibrary(fileName);
    } catch (const std::bad_alloc&) {
        discardLoaderError();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (library == nullptr) {
        discardLoaderError();
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return registerLibrary(library);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (reinterpret_cast<uintptr_t>(procName) <= 0xFFFF || module == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    Registry& r = registry();
    // Held while resolving, so that no FreeLibrary unloads the library meanwhile.
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.modules.find(reinterpret_cast<uintptr_t>(module));
    if (it == r.modules.end()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* address = ::dlsym(it->second.library, procName);
    if (address == nullptr) {
        discardLoaderError();
    }
    if (address == nullptr || !definedBy(it->second.library, address)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    void* library = nullptr;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.modules.find(reinterpret_cast<uintptr_t>(module));
        if (it == r.modules.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        library = it->second.library;
        if (--it->second.references == 0) {
            r.modules.erase(it);
        }
    }
    // Outside the lock: the library's destructors may load or free modules.
    ::dlclose(library);
    return TRUE;
}
