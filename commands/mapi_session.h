// SPDX-License-Identifier: MIT
// MapiSession: one request's MAPI: the loaded library, the logged-on session,
// the status that travels back as "error", and the request's parameters.
#pragma once

#include <cstdint>
#include <memory>

#include "codec/param_map.h"
#include "foundation/ks_string.h"
#include "mapi/mapi.h"
#include "commands/mapi_allocator.h"
#include "pal/win32.h"

class MapiSession {
  public:
    // Loads mapi32.dll, initialises MAPI and logs on to the default profile.
    // Never throws for a MAPI or library failure: the outcome is status().
    explicit MapiSession(ParamMap params);
    // The same with another library file (a path, or a Windows file name).
    MapiSession(ParamMap params, const char* libraryName);
    MapiSession(const MapiSession&) = delete;
    MapiSession& operator=(const MapiSession&) = delete;
    ~MapiSession();

    // Routes a command to its implementation; an unknown name gives
    // {"error": "Not Supported"} without touching MAPI or the status.
    ParamMap dispatch(KsString commandName);

    LPMAPISESSION logonSession() const { return logonSession_; }
    HRESULT status() const { return status_; }
    void setStatus(HRESULT status) { status_ = status; }
    // Stores a MAPI step's result as the status and hands it back.
    HRESULT record(HRESULT result) {
        status_ = result;
        return result;
    }
    int32_t silent() const { return silent_; }
    void setSilent(int32_t silent) { silent_ = silent; }
    WabOrMapiAllocator* allocator() const { return allocator_; }
    int32_t& listDepth() { return listDepth_; }
    // Distribution lists opened for this request so far.
    int32_t& listsExpanded() { return listsExpanded_; }
    const ParamMap& params() const { return params_; }
    LPMAPIADMINPROFILES mapiAdminProfiles() const { return mapiAdminProfiles_; }

    // Reads a numeric parameter with a scan format ("%ul" or "%d") into a
    // variable that already holds its default; an absent key or a value that
    // does not begin with a number leaves it unchanged.
    void readNumber(const char* key, const char* format, uint32_t* value) const;
    void readNumber(const char* key, const char* format, int32_t* value) const;
    // A text parameter by exact key, or null when the request did not carry it.
    const KsString* param(const char* key) const;

    // Frees an ADRLIST (or SRowSet, which shares its layout) and every entry's
    // value array through `allocator`; a null list does nothing.
    static void freeAddressList(WabOrMapiAllocator* allocator, LPADRLIST list);
    static void freeAddressList(WabOrMapiAllocator* allocator, LPSRowSet rows);

  private:
    void start(const char* libraryName);
    bool hasCoreEntryPoints() const;

    LPMAPISESSION logonSession_ = nullptr;
    HRESULT status_ = 0;
    int32_t silent_ = 0;
    HMODULE library_ = nullptr;
    WabOrMapiAllocator* allocator_ = nullptr;
    int32_t ownsAllocator_ = 1;
    int32_t listDepth_ = 0;
    int32_t listsExpanded_ = 0;
    LPMAPIINITIALIZE mapiInitialize_ = nullptr;
    LPMAPIUNINITIALIZE mapiUninitialize_ = nullptr;
    LPMAPILOGONEX mapiLogonEx_ = nullptr;
    LPMAPIADMINPROFILES mapiAdminProfiles_ = nullptr;
    ParamMap params_;
};
