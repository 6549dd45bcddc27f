// SPDX-License-Identifier: MIT
// Interface identifiers of the MAPI interfaces, for QueryInterface, OpenEntry
// and OpenProperty. MAPI's identifiers are OLE-style GUIDs
// {000203xx-0000-0000-C000-000000000046}; IID_IUnknown and IID_IStream come
// with the COM base (mapi_com.h).
#pragma once

#include "mapi/mapi_com.h"

// An IID in MAPI's numbering: only Data1 differs between its interfaces.
#define MB_MAPI_OLE_IID(name, data1)                                                \
    inline constexpr IID name = {(data1), 0x0000, 0x0000,                           \
                                 {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}

MB_MAPI_OLE_IID(IID_IMAPISession, 0x00020300);
MB_MAPI_OLE_IID(IID_IMAPITable, 0x00020301);
MB_MAPI_OLE_IID(IID_IMAPIAdviseSink, 0x00020302);
MB_MAPI_OLE_IID(IID_IMAPIProp, 0x00020303);
MB_MAPI_OLE_IID(IID_IProfSect, 0x00020304);
MB_MAPI_OLE_IID(IID_IMAPIStatus, 0x00020305);
MB_MAPI_OLE_IID(IID_IMsgStore, 0x00020306);
MB_MAPI_OLE_IID(IID_IMessage, 0x00020307);
MB_MAPI_OLE_IID(IID_IAttachment, 0x00020308);
MB_MAPI_OLE_IID(IID_IAddrBook, 0x00020309);
MB_MAPI_OLE_IID(IID_IMailUser, 0x0002030A);
MB_MAPI_OLE_IID(IID_IMAPIContainer, 0x0002030B);
MB_MAPI_OLE_IID(IID_IMAPIFolder, 0x0002030C);
MB_MAPI_OLE_IID(IID_IABContainer, 0x0002030D);
MB_MAPI_OLE_IID(IID_IDistList, 0x0002030E);
MB_MAPI_OLE_IID(IID_IProfAdmin, 0x0002031C);
MB_MAPI_OLE_IID(IID_IMsgServiceAdmin, 0x0002031D);
MB_MAPI_OLE_IID(IID_IMAPIProgress, 0x0002031F);
MB_MAPI_OLE_IID(IID_IProviderAdmin, 0x00020325);
MB_MAPI_OLE_IID(IID_IMAPIForm, 0x00020327);

// The property set of MAPI's own named properties, and that of string-named
// public properties.
MB_MAPI_OLE_IID(PS_MAPI, 0x00020328);
MB_MAPI_OLE_IID(PS_PUBLIC_STRINGS, 0x00020329);

#undef MB_MAPI_OLE_IID

typedef const IID* LPCIID;

// Compares an interface request against an identifier; a null request (MAPI's
// "the default interface") matches nothing.
inline bool mapiIsIid(LPCIID requested, REFIID iid) {
    return requested != nullptr && IsEqualIID(*requested, iid) != 0;
}
