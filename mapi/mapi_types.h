// SPDX-License-Identifier: MIT
// MAPI data structures and entry point types, with MAPI's published layouts.
//
// Every count and tag is a 32-bit ULONG; pointers and UI handles (ULONG_PTR)
// are pointer-sized, so on 64-bit platforms a pointer after a ULONG is preceded
// by 4 bytes of padding. Variable-length structures end in an array declared
// with MAPI_DIM elements; the CbNew... macros give the size for n elements.
#pragma once

#include <cstddef>

#include "mapi/mapi_com.h"

#ifndef MAPI_DIM
#define MAPI_DIM 1
#endif

// Text whose width the call's flags choose: 8-bit, or UTF-16 (cast the
// pointer) when the call passes MAPI_UNICODE.
typedef CHAR* LPMAPITSTR;

// A position in a table.
typedef ULONG_PTR BOOKMARK;

struct MAPIUID {
    BYTE ab[16];
};
typedef MAPIUID* LPMAPIUID;

// An entry identifier: 4 flag bytes, then provider-defined bytes.
struct ENTRYID {
    BYTE abFlags[4];
    BYTE ab[MAPI_DIM];
};
typedef ENTRYID* LPENTRYID;
#define CbNewENTRYID(cb) (offsetof(ENTRYID, ab) + (cb))

struct SBinary {
    ULONG cb;
    LPBYTE lpb;
};
typedef SBinary* LPSBinary;

// Multi-valued property values: a count and a pointer to the values.
struct SShortArray {
    ULONG cValues;
    short* lpi;
};
struct SLongArray {
    ULONG cValues;
    LONG* lpl;
};
struct SRealArray {
    ULONG cValues;
    float* lpflt;
};
struct SDoubleArray {
    ULONG cValues;
    double* lpdbl;
};
struct SCurrencyArray {
    ULONG cValues;
    CURRENCY* lpcur;
};
struct SAppTimeArray {
    ULONG cValues;
    double* lpat;
};
struct SDateTimeArray {
    ULONG cValues;
    FILETIME* lpft;
};
struct SBinaryArray {
    ULONG cValues;
    SBinary* lpbin;
};
struct SLPSTRArray {
    ULONG cValues;
    LPSTR* lppszA;
};
struct SWStringArray {
    ULONG cValues;
    LPWSTR* lppszW;
};
struct SGuidArray {
    ULONG cValues;
    GUID* lpguid;
};
struct SLargeIntegerArray {
    ULONG cValues;
    LARGE_INTEGER* lpli;
};

// A list of entry identifiers.
typedef SBinaryArray ENTRYLIST;
typedef ENTRYLIST* LPENTRYLIST;

// The value of a property; the member is chosen by PROP_TYPE of the tag.
union _PV {
    short int i;               // PT_I2
    LONG l;                    // PT_LONG
    ULONG ul;                  // PT_LONG, unsigned
    float flt;                 // PT_R4
    double dbl;                // PT_DOUBLE
    unsigned short int b;      // PT_BOOLEAN
    CURRENCY cur;              // PT_CURRENCY
    double at;                 // PT_APPTIME
    FILETIME ft;               // PT_SYSTIME
    LPSTR lpszA;               // PT_STRING8
    SBinary bin;               // PT_BINARY
    LPWSTR lpszW;              // PT_UNICODE
    LPGUID lpguid;             // PT_CLSID
    LARGE_INTEGER li;          // PT_I8
    SShortArray MVi;           // PT_MV_I2
    SLongArray MVl;            // PT_MV_LONG
    SRealArray MVflt;          // PT_MV_R4
    SDoubleArray MVdbl;        // PT_MV_DOUBLE
    SCurrencyArray MVcur;      // PT_MV_CURRENCY
    SAppTimeArray MVat;        // PT_MV_APPTIME
    SDateTimeArray MVft;       // PT_MV_SYSTIME
    SBinaryArray MVbin;        // PT_MV_BINARY
    SLPSTRArray MVszA;         // PT_MV_STRING8
    SWStringArray MVszW;       // PT_MV_UNICODE
    SGuidArray MVguid;         // PT_MV_CLSID
    SLargeIntegerArray MVli;   // PT_MV_I8
    SCODE err;                 // PT_ERROR
    LONG x;                    // PT_NULL, PT_OBJECT: no usable value
};

struct SPropValue {
    ULONG ulPropTag;
    ULONG dwAlignPad;
    union _PV Value;
};
typedef SPropValue* LPSPropValue;

struct SPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[MAPI_DIM];
};
typedef SPropTagArray* LPSPropTagArray;
#define CbNewSPropTagArray(n) (offsetof(SPropTagArray, aulPropTag) + (n) * sizeof(ULONG))
// A tag array of fixed size on the stack: SizedSPropTagArray(2, cols) = {2, {t1, t2}};
// pass it as (LPSPropTagArray)&cols.
#define SizedSPropTagArray(n, name)   \
    struct _SPropTagArray_##name {    \
        ULONG cValues;                \
        ULONG aulPropTag[n];          \
    } name

// One property a call could not handle: its index in the request, its tag
// and why.
struct SPropProblem {
    ULONG ulIndex;
    ULONG ulPropTag;
    SCODE scode;
};
typedef SPropProblem* LPSPropProblem;

struct SPropProblemArray {
    ULONG cProblem;
    SPropProblem aProblem[MAPI_DIM];
};
typedef SPropProblemArray* LPSPropProblemArray;
#define CbNewSPropProblemArray(n) \
    (offsetof(SPropProblemArray, aProblem) + (n) * sizeof(SPropProblem))

// A table row; a row set is a count of rows followed by the rows.
struct SRow {
    ULONG ulAdrEntryPad;
    ULONG cValues;
    LPSPropValue lpProps;
};
typedef SRow* LPSRow;

struct SRowSet {
    ULONG cRows;
    SRow aRow[MAPI_DIM];
};
typedef SRowSet* LPSRowSet;
#define CbNewSRowSet(n) (offsetof(SRowSet, aRow) + (n) * sizeof(SRow))

// A recipient list: the same layout as a row set, so the two convert freely.
struct ADRENTRY {
    ULONG ulReserved1;
    ULONG cValues;
    LPSPropValue rgPropVals;
};
typedef ADRENTRY* LPADRENTRY;

struct ADRLIST {
    ULONG cEntries;
    ADRENTRY aEntries[MAPI_DIM];
};
typedef ADRLIST* LPADRLIST;
#define CbNewADRLIST(n) (offsetof(ADRLIST, aEntries) + (n) * sizeof(ADRENTRY))

struct SSortOrder {
    ULONG ulPropTag;
    ULONG ulOrder;
};
typedef SSortOrder* LPSSortOrder;

struct SSortOrderSet {
    ULONG cSorts;
    ULONG cCategories;
    ULONG cExpanded;
    SSortOrder aSort[MAPI_DIM];
};
typedef SSortOrderSet* LPSSortOrderSet;
#define CbNewSSortOrderSet(n) (offsetof(SSortOrderSet, aSort) + (n) * sizeof(SSortOrder))

struct FlagList {
    ULONG cFlags;
    ULONG ulFlag[MAPI_DIM];
};
typedef FlagList* LPFlagList;

// Restrictions: a type (RES_...) and the member of the union it selects.
struct SRestriction;
typedef SRestriction* LPSRestriction;

struct SAndRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
struct SOrRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
struct SNotRestriction {
    ULONG ulReserved;
    LPSRestriction lpRes;
};
struct SContentRestriction {
    ULONG ulFuzzyLevel;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SPropertyRestriction {
    ULONG relop;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SComparePropsRestriction {
    ULONG relop;
    ULONG ulPropTag1;
    ULONG ulPropTag2;
};
struct SBitMaskRestriction {
    ULONG relBMR;
    ULONG ulPropTag;
    ULONG ulMask;
};
struct SSizeRestriction {
    ULONG relop;
    ULONG ulPropTag;
    ULONG cb;
};
struct SExistRestriction {
    ULONG ulReserved1;
    ULONG ulPropTag;
    ULONG ulReserved2;
};
struct SSubRestriction {
    ULONG ulSubObject;
    LPSRestriction lpRes;
};
struct SCommentRestriction {
    ULONG cValues;
    LPSRestriction lpRes;
    LPSPropValue lpProp;
};

struct SRestriction {
    ULONG rt;
    union {
        SComparePropsRestriction resCompareProps;
        SAndRestriction resAnd;
        SOrRestriction resOr;
        SNotRestriction resNot;
        SContentRestriction resContent;
        SPropertyRestriction resProperty;
        SBitMaskRestriction resBitMask;
        SSizeRestriction resSize;
        SExistRestriction resExist;
        SSubRestriction resSub;
        SCommentRestriction resComment;
    } res;
};

// Callbacks of the address book dialog when it runs modeless.
typedef BOOL(STDMETHODCALLTYPE* LPFNABSDI)(ULONG_PTR ulUIParam, LPVOID lpvmsg);
typedef void(STDMETHODCALLTYPE* LPFNDISMISS)(ULONG_PTR ulUIParam, LPVOID lpvContext);
typedef SCODE(STDMETHODCALLTYPE* LPFNBUTTON)(ULONG_PTR ulUIParam, LPVOID lpvContext,
                                             ULONG cbEntryID, LPENTRYID lpSelection,
                                             ULONG ulFlags);

// How IAddrBook::Address presents its dialog.
struct ADRPARM {
    ULONG cbABContEntryID;
    LPENTRYID lpABContEntryID;
    ULONG ulFlags;
    LPVOID lpReserved;
    ULONG ulHelpContext;
    LPMAPITSTR lpszHelpFileName;
    LPFNABSDI lpfnABSDI;
    LPFNDISMISS lpfnDismiss;
    LPVOID lpvDismissContext;
    LPMAPITSTR lpszCaption;
    LPMAPITSTR lpszNewEntryTitle;
    LPMAPITSTR lpszDestWellsTitle;
    ULONG cDestFields;
    ULONG nDestFieldFocus;
    LPMAPITSTR* lppszDestTitles;
    ULONG* lpulDestComps;
    LPSRestriction lpContRestriction;
    LPSRestriction lpHierRestriction;
};
typedef ADRPARM* LPADRPARM;

// What GetLastError reports about a failed call.
struct MAPIERROR {
    ULONG ulVersion;
    LPMAPITSTR lpszError;
    LPMAPITSTR lpszComponent;
    ULONG ulLowLevelError;
    ULONG ulContext;
};
typedef MAPIERROR* LPMAPIERROR;
#define MAPI_ERROR_VERSION 0

// A named property: a property set and a number (MNID_ID) or a name (MNID_STRING).
struct MAPINAMEID {
    LPGUID lpguid;
    ULONG ulKind;
    union {
        LONG lID;
        LPWSTR lpwstrName;
    } Kind;
};
typedef MAPINAMEID* LPMAPINAMEID;

struct MAPIINIT_0 {
    ULONG ulVersion;
    ULONG ulFlags;
};
typedef MAPIINIT_0* LPMAPIINIT_0;

// Notifications reach an advise sink only by pointer; their layout is not
// needed here.
struct NOTIFICATION;
typedef NOTIFICATION* LPNOTIFICATION;

// The interfaces the entry points hand out (mapi_interfaces.h).
struct IMAPISession;
struct IProfAdmin;
typedef IMAPISession* LPMAPISESSION;
typedef IProfAdmin* LPPROFADMIN;

// Entry points of mapi32, looked up by name at run time.
typedef HRESULT(STDAPICALLTYPE MAPIINITIALIZE)(LPVOID lpMapiInit);
typedef MAPIINITIALIZE* LPMAPIINITIALIZE;
typedef void(STDAPICALLTYPE MAPIUNINITIALIZE)(void);
typedef MAPIUNINITIALIZE* LPMAPIUNINITIALIZE;
typedef HRESULT(STDAPICALLTYPE MAPILOGONEX)(ULONG_PTR ulUIParam, LPMAPITSTR lpszProfileName,
                                            LPMAPITSTR lpszPassword, ULONG ulFlags,
                                            LPMAPISESSION* lppSession);
typedef MAPILOGONEX* LPMAPILOGONEX;
typedef HRESULT(STDAPICALLTYPE MAPIADMINPROFILES)(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);
typedef MAPIADMINPROFILES* LPMAPIADMINPROFILES;

// MAPI's allocator: a buffer and the buffers linked to it are freed together.
typedef SCODE(STDMETHODCALLTYPE MAPIALLOCATEBUFFER)(ULONG cbSize, LPVOID* lppBuffer);
typedef MAPIALLOCATEBUFFER* LPMAPIALLOCATEBUFFER;
typedef SCODE(STDMETHODCALLTYPE MAPIALLOCATEMORE)(ULONG cbSize, LPVOID lpObject,
                                                  LPVOID* lppBuffer);
typedef MAPIALLOCATEMORE* LPMAPIALLOCATEMORE;
typedef ULONG(STDAPICALLTYPE MAPIFREEBUFFER)(LPVOID lpBuffer);
typedef MAPIFREEBUFFER* LPMAPIFREEBUFFER;
