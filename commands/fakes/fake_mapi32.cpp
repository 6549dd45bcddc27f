// SPDX-License-Identifier: MIT
// A stand-in mapi32 library that records how it is called. Built twice: as
// libmapi32.so, and without MAPILogonEx as libmapi32_nologon.so.
#include <cstdlib>

#include "commands/fakes/fake_mapi_state.h"

// A DLL exports what is marked for export; a shared object, what is visible.
#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

FakeMapiState state;

// Only what the session's start-up and teardown touch does anything.
struct FakeSession final : IMAPISession {
    std::atomic<ULONG> refs{1};

    FakeSession() { ++state.liveSessions; }
    ~FakeSession() { --state.liveSessions; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetLastError(HRESULT, ULONG, LPMAPIERROR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE GetMsgStoresTable(ULONG, LPMAPITABLE*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE OpenMsgStore(ULONG_PTR, ULONG, LPENTRYID, LPCIID, ULONG,
                                           LPMDB*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE OpenProfileSection(LPMAPIUID, LPCIID, ULONG,
                                                 LPPROFSECT*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE GetStatusTable(ULONG, LPMAPITABLE*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*,
                                        LPUNKNOWN*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG,
                                              ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK,
                                     ULONG_PTR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT STDMETHODCALLTYPE MessageOptions(ULONG_PTR, ULONG, LPMAPITSTR, LPMESSAGE) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE QueryDefaultMessageOpt(LPMAPITSTR, ULONG, ULONG*,
                                                     LPSPropValue*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE EnumAdrTypes(ULONG, ULONG*, LPMAPITSTR**) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE QueryIdentity(ULONG*, LPENTRYID*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE Logoff(ULONG_PTR uiParam, ULONG flags, ULONG reserved) override {
        ++state.logoffCalls;
        state.lastLogoffSum = uiParam + flags + reserved;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultStore(ULONG, ULONG, LPENTRYID) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE AdminServices(ULONG, LPSERVICEADMIN*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE,
                                       ULONG, ULONG, ULONG, ULONG, LPSTR) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT STDMETHODCALLTYPE PrepareForm(LPCIID, LPMESSAGE, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
};

}  // namespace

FAKE_EXPORT FakeMapiState* fakeMapiState() {
    return &state;
}

FAKE_EXPORT HRESULT MAPIInitialize(LPVOID init) {
    ++state.initializeCalls;
    state.initArgWasNull = init == nullptr;
    return state.initializeResult;
}

FAKE_EXPORT void MAPIUninitialize() {
    ++state.uninitializeCalls;
}

#ifndef FAKE_MAPI_NO_LOGON
FAKE_EXPORT HRESULT MAPILogonEx(ULONG_PTR uiParam, LPMAPITSTR profile, LPMAPITSTR,
                                ULONG flags, LPMAPISESSION* session) {
    ++state.logonCalls;
    state.lastUiParam = uiParam;
    state.lastFlags = flags;
    state.lastProfileWasNull = profile == nullptr;
    const HRESULT result = state.logonResult;
    *session = result < 0 ? nullptr : new FakeSession;
    return result;
}
#endif

FAKE_EXPORT SCODE MAPIAllocateBuffer(ULONG size, LPVOID* out) {
    if (++state.allocateCalls == state.failAllocation) {
        *out = nullptr;
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    *out = std::malloc(size == 0 ? 1 : size);
    return *out != nullptr ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

FAKE_EXPORT ULONG MAPIFreeBuffer(LPVOID buffer) {
    ++state.freeCalls;
    std::free(buffer);
    return 0;
}
