// SPDX-License-Identifier: MIT
// The C entry points of libmapi32.so. The library is built with hidden
// visibility and a version script; these seven are all it exports.
#pragma once

#include <type_traits>

#include "mapi/mapi.h"

#define MB_PROVIDER_EXPORT __attribute__((visibility("default")))

extern "C" {
MB_PROVIDER_EXPORT HRESULT MAPIInitialize(LPVOID lpMapiInit);
MB_PROVIDER_EXPORT void MAPIUninitialize(void);
MB_PROVIDER_EXPORT HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPMAPITSTR lpszProfileName,
                                       LPMAPITSTR lpszPassword, ULONG ulFlags,
                                       LPMAPISESSION* lppSession);
MB_PROVIDER_EXPORT SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
MB_PROVIDER_EXPORT SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
MB_PROVIDER_EXPORT ULONG MAPIFreeBuffer(LPVOID lpBuffer);
MB_PROVIDER_EXPORT HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);
}

// The signatures must be the ones the Broker's function-pointer types expect.
static_assert(std::is_same_v<decltype(&MAPIInitialize), LPMAPIINITIALIZE>);
static_assert(std::is_same_v<decltype(&MAPIUninitialize), LPMAPIUNINITIALIZE>);
static_assert(std::is_same_v<decltype(&MAPILogonEx), LPMAPILOGONEX>);
static_assert(std::is_same_v<decltype(&MAPIAllocateBuffer), LPMAPIALLOCATEBUFFER>);
static_assert(std::is_same_v<decltype(&MAPIAllocateMore), LPMAPIALLOCATEMORE>);
static_assert(std::is_same_v<decltype(&MAPIFreeBuffer), LPMAPIFREEBUFFER>);
static_assert(std::is_same_v<decltype(&MAPIAdminProfiles), LPMAPIADMINPROFILES>);
