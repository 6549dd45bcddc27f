// SPDX-License-Identifier: MIT
// A stand-in for libmapi32.so that records every call it receives, one line per
// call, in the file named by MB_MAPI_DOUBLE_LOG, and fails on demand:
//   MB_MAPI_DOUBLE_INIT_RESULT   MAPIInitialize returns this HRESULT (0x... or decimal)
//   MB_MAPI_DOUBLE_LOGON_RESULT  MAPILogonEx returns this HRESULT and no session
//   MB_MAPI_DOUBLE_HOLD_FILE     the first MAPILogonEx to find this file renames it
//                                to FILE.held and waits while that exists (at most
//                                60 s): a slow request, one at a time, that the
//                                test ends by removing FILE.held
// Built twice: once whole, once without MAPILogonEx (MB_DOUBLE_WITHOUT_LOGON).
// Plain C-style code on purpose: nothing here may keep the library from being
// unloaded, since the tests count loads and unloads.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "mapi/mapi.h"

// A DLL exports what is marked for export; a shared object, what is visible.
#ifdef _WIN32
#define DOUBLE_EXPORT extern "C" __declspec(dllexport)
#else
#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Concurrent sessions in the Broker share this one loaded copy, so one lock
// puts their lines in the log one at a time: under Wine, even a handle opened
// for FILE_APPEND_DATA alone lost a line of concurrent sessions now and then.
std::mutex recordLock;

void record(const char* line) {
    const char* path = std::getenv("MB_MAPI_DOUBLE_LOG");
    if (path == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> hold(recordLock);
#ifdef _WIN32
    // The C runtime's "a" seeks to the end and then writes: two steps, between
    // which another process's line could land. A handle with FILE_APPEND_DATA
    // alone has the system put each write at the end.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const std::string text = std::string(line) + "\n";
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
#else
    // "a" appends (O_APPEND) and the line leaves in one write at fclose, so the
    // lines of concurrent sessions stay whole.
    std::FILE* file = std::fopen(path, "ae");
    if (file != nullptr) {
        std::fprintf(file, "%s\n", line);
        std::fclose(file);
    }
#endif
}

HRESULT resultFromEnvironment(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return S_OK;
    }
    return static_cast<HRESULT>(static_cast<uint32_t>(std::strtoul(text, nullptr, 0)));
}

[[maybe_unused]] void holdWhileAsked() {
    const char* path = std::getenv("MB_MAPI_DOUBLE_HOLD_FILE");
    if (path == nullptr || *path == '\0') {
        return;
    }
    char held[4096];
    std::snprintf(held, sizeof held, "%s.held", path);
    if (std::rename(path, held) != 0) {
        return;  // not asked, or another request holds already
    }
    record("hold");
    struct stat st;
    for (int i = 0; i < 6000 && ::stat(held, &st) == 0; ++i) {
        ::usleep(10000);
    }
    record("released");
}

__attribute__((constructor)) void onLoad() {
    record("load");
}
__attribute__((destructor)) void onUnload() {
    record("unload");
}

// Every method the Broker does not need yet refuses; Logoff and Release are recorded.
class DoubleSession final : public IMAPISession {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        if (out != nullptr) {
            *out = nullptr;
        }
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        char line[64];
        std::snprintf(line, sizeof line, "Release refs=%u", unsigned(left));
        record(line);
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return no(); }
    HRESULT STDMETHODCALLTYPE GetMsgStoresTable(ULONG, LPMAPITABLE*) override { return no(); }
    HRESULT STDMETHODCALLTYPE OpenMsgStore(ULONG_PTR, ULONG, LPENTRYID, LPCIID, ULONG,
                                           LPMDB*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE GetStatusTable(ULONG, LPMAPITABLE*) override { return no(); }
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*,
                                        LPUNKNOWN*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG,
                                              ULONG*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK,
                                     ULONG_PTR*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR) override { return no(); }
    HRESULT STDMETHODCALLTYPE MessageOptions(ULONG_PTR, ULONG, LPMAPITSTR, LPMESSAGE) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE QueryDefaultMessageOpt(LPMAPITSTR, ULONG, ULONG*,
                                                     LPSPropValue*) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE EnumAdrTypes(ULONG, ULONG*, LPMAPITSTR**) override { return no(); }
    HRESULT STDMETHODCALLTYPE QueryIdentity(ULONG*, LPENTRYID*) override { return no(); }
    HRESULT STDMETHODCALLTYPE Logoff(ULONG_PTR ui, ULONG flags, ULONG reserved) override {
        char line[96];
        std::snprintf(line, sizeof line, "Logoff ui=%llu flags=0x%x reserved=%u",
                      static_cast<unsigned long long>(ui), unsigned(flags), unsigned(reserved));
        record(line);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultStore(ULONG, ULONG, LPENTRYID) override { return no(); }
    HRESULT STDMETHODCALLTYPE AdminServices(ULONG, LPSERVICEADMIN*) override { return no(); }
    HRESULT STDMETHODCALLTYPE ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE,
                                       ULONG, ULONG, ULONG, ULONG, LPSTR) override {
        return no();
    }
    HRESULT STDMETHODCALLTYPE PrepareForm(LPCIID, LPMESSAGE, ULONG*) override { return no(); }

  private:
    static HRESULT no() {
        record("unsupported session call");
        return MAPI_E_NO_SUPPORT;
    }
    ULONG refs_ = 1;
};

}  // namespace

DOUBLE_EXPORT HRESULT MAPIInitialize(LPVOID init) {
    record(init == nullptr ? "MAPIInitialize init=null" : "MAPIInitialize init=set");
    return resultFromEnvironment("MB_MAPI_DOUBLE_INIT_RESULT");
}

DOUBLE_EXPORT void MAPIUninitialize() {
    record("MAPIUninitialize");
}

#ifndef MB_DOUBLE_WITHOUT_LOGON
DOUBLE_EXPORT HRESULT MAPILogonEx(ULONG_PTR ui, LPMAPITSTR profile, LPMAPITSTR password,
                                  ULONG flags, LPMAPISESSION* session) {
    char line[128];
    std::snprintf(line, sizeof line, "MAPILogonEx ui=%llu profile=%s password=%s flags=0x%x",
                  static_cast<unsigned long long>(ui), profile == nullptr ? "null" : "set",
                  password == nullptr ? "null" : "set", unsigned(flags));
    record(line);
    holdWhileAsked();
    HRESULT result = resultFromEnvironment("MB_MAPI_DOUBLE_LOGON_RESULT");
    if (session == nullptr) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *session = result < 0 ? nullptr : new DoubleSession;
    return result;
}
#endif

DOUBLE_EXPORT SCODE MAPIAllocateBuffer(ULONG size, LPVOID* buffer) {
    record("MAPIAllocateBuffer");
    *buffer = std::malloc(size == 0 ? 1 : size);
    return *buffer != nullptr ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

// Linked buffers are not tracked: nothing the Broker does yet allocates any.
DOUBLE_EXPORT SCODE MAPIAllocateMore(ULONG, LPVOID, LPVOID* buffer) {
    record("MAPIAllocateMore");
    *buffer = nullptr;
    return MAPI_E_NO_SUPPORT;
}

DOUBLE_EXPORT ULONG MAPIFreeBuffer(LPVOID buffer) {
    record("MAPIFreeBuffer");
    std::free(buffer);
    return 0;
}

DOUBLE_EXPORT HRESULT MAPIAdminProfiles(ULONG, LPPROFADMIN* admin) {
    record("MAPIAdminProfiles");
    if (admin != nullptr) {
        *admin = nullptr;
    }
    return MAPI_E_NO_SUPPORT;
}
