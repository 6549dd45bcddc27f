// SPDX-License-Identifier: MIT
// The MAPI declarations against MAPI's published values and the 64-bit
// Windows layouts that the Broker, the system's MAPI and our provider share.
// Standard C++ and our headers only, so the same file builds against the real
// <windows.h> with mingw-w64.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mapi/mapi.h"

namespace {

static_assert(sizeof(void*) == 8, "the layouts below are those of 64-bit builds");

// Base types.
static_assert(sizeof(ULONG) == 4 && sizeof(LONG) == 4 && sizeof(SCODE) == 4);
static_assert(sizeof(GUID) == 16 && offsetof(GUID, Data2) == 4 && offsetof(GUID, Data3) == 6 &&
              offsetof(GUID, Data4) == 8);
static_assert(sizeof(FILETIME) == 8 && alignof(FILETIME) == 4);
static_assert(sizeof(LARGE_INTEGER) == 8 && sizeof(ULARGE_INTEGER) == 8 && sizeof(CURRENCY) == 8);
static_assert(sizeof(BOOKMARK) == 8, "a bookmark is pointer-sized");
static_assert(sizeof(STATSTG) == 80 && offsetof(STATSTG, cbSize) == 16 &&
              offsetof(STATSTG, clsid) == 56);

// Property values: 8 bytes of tag and padding, then a 16-byte union whose
// largest members are the count-and-pointer pairs (SBinary, the MV arrays).
static_assert(sizeof(SBinary) == 16 && offsetof(SBinary, cb) == 0 && offsetof(SBinary, lpb) == 8);
static_assert(sizeof(union _PV) == 16);
static_assert(sizeof(SPropValue) == 24 && offsetof(SPropValue, ulPropTag) == 0 &&
              offsetof(SPropValue, dwAlignPad) == 4 && offsetof(SPropValue, Value) == 8);
static_assert(sizeof(SBinaryArray) == 16 && offsetof(SBinaryArray, lpbin) == 8);
static_assert(sizeof(SLPSTRArray) == 16 && sizeof(SWStringArray) == 16);

static_assert(sizeof(SPropTagArray) == 8 && offsetof(SPropTagArray, cValues) == 0 &&
              offsetof(SPropTagArray, aulPropTag) == 4);
static_assert(sizeof(SPropProblem) == 12 && offsetof(SPropProblem, ulPropTag) == 4 &&
              offsetof(SPropProblem, scode) == 8);
static_assert(offsetof(SPropProblemArray, aProblem) == 4);

// Rows and recipient lists share one layout.
static_assert(sizeof(SRow) == 16 && offsetof(SRow, ulAdrEntryPad) == 0 &&
              offsetof(SRow, cValues) == 4 && offsetof(SRow, lpProps) == 8);
static_assert(sizeof(ADRENTRY) == 16 && offsetof(ADRENTRY, ulReserved1) == 0 &&
              offsetof(ADRENTRY, cValues) == 4 && offsetof(ADRENTRY, rgPropVals) == 8);
static_assert(offsetof(SRowSet, cRows) == 0 && offsetof(SRowSet, aRow) == 8);
static_assert(offsetof(ADRLIST, cEntries) == 0 && offsetof(ADRLIST, aEntries) == 8);

static_assert(sizeof(ADRPARM) == 136);
static_assert(offsetof(ADRPARM, cbABContEntryID) == 0 && offsetof(ADRPARM, lpABContEntryID) == 8 &&
              offsetof(ADRPARM, ulFlags) == 16 && offsetof(ADRPARM, lpReserved) == 24 &&
              offsetof(ADRPARM, ulHelpContext) == 32 && offsetof(ADRPARM, lpszHelpFileName) == 40 &&
              offsetof(ADRPARM, lpfnABSDI) == 48 && offsetof(ADRPARM, lpfnDismiss) == 56 &&
              offsetof(ADRPARM, lpvDismissContext) == 64 && offsetof(ADRPARM, lpszCaption) == 72 &&
              offsetof(ADRPARM, lpszNewEntryTitle) == 80 &&
              offsetof(ADRPARM, lpszDestWellsTitle) == 88 && offsetof(ADRPARM, cDestFields) == 96 &&
              offsetof(ADRPARM, nDestFieldFocus) == 100 &&
              offsetof(ADRPARM, lppszDestTitles) == 104 && offsetof(ADRPARM, lpulDestComps) == 112 &&
              offsetof(ADRPARM, lpContRestriction) == 120 &&
              offsetof(ADRPARM, lpHierRestriction) == 128);

static_assert(sizeof(SRestriction) == 32 && offsetof(SRestriction, rt) == 0 &&
              offsetof(SRestriction, res) == 8);
static_assert(sizeof(SPropertyRestriction) == 16 && offsetof(SPropertyRestriction, relop) == 0 &&
              offsetof(SPropertyRestriction, ulPropTag) == 4 &&
              offsetof(SPropertyRestriction, lpProp) == 8);
static_assert(sizeof(SContentRestriction) == 16 &&
              offsetof(SContentRestriction, ulPropTag) == 4 &&
              offsetof(SContentRestriction, lpProp) == 8);
static_assert(sizeof(SAndRestriction) == 16 && offsetof(SAndRestriction, lpRes) == 8);
static_assert(sizeof(SCommentRestriction) == 24);

static_assert(sizeof(SSortOrder) == 8 && offsetof(SSortOrderSet, aSort) == 12);
static_assert(offsetof(FlagList, ulFlag) == 4);
static_assert(sizeof(MAPIUID) == 16 && offsetof(ENTRYID, ab) == 4);
static_assert(sizeof(MAPIINIT_0) == 8 && offsetof(MAPIINIT_0, ulFlags) == 4);
static_assert(sizeof(MAPINAMEID) == 24 && offsetof(MAPINAMEID, ulKind) == 8 &&
              offsetof(MAPINAMEID, Kind) == 16);
static_assert(sizeof(MAPIERROR) == 32 && offsetof(MAPIERROR, lpszError) == 8 &&
              offsetof(MAPIERROR, ulLowLevelError) == 24 && offsetof(MAPIERROR, ulContext) == 28);

// An interface object is its vtable pointer and nothing else.
static_assert(sizeof(IUnknown) == sizeof(void*) && sizeof(IStream) == sizeof(void*));
static_assert(sizeof(IMAPIProp) == sizeof(void*) && sizeof(IMAPITable) == sizeof(void*));
static_assert(sizeof(IMAPIContainer) == sizeof(void*) && sizeof(IMAPIFolder) == sizeof(void*));
static_assert(sizeof(IMsgStore) == sizeof(void*) && sizeof(IMessage) == sizeof(void*));
static_assert(sizeof(IAttach) == sizeof(void*) && sizeof(IMailUser) == sizeof(void*));
static_assert(sizeof(IDistList) == sizeof(void*) && sizeof(IABContainer) == sizeof(void*));
static_assert(sizeof(IAddrBook) == sizeof(void*) && sizeof(IProfAdmin) == sizeof(void*));
static_assert(sizeof(IMAPISession) == sizeof(void*) && sizeof(IProfSect) == sizeof(void*));
static_assert(sizeof(IMAPIAdviseSink) == sizeof(void*) && sizeof(IMAPIProgress) == sizeof(void*));

template <class T>
std::vector<unsigned char> bytesOf(const T& value) {
    std::vector<unsigned char> bytes(sizeof(T));
    std::memcpy(bytes.data(), static_cast<const void*>(&value), sizeof(T));
    return bytes;
}

TEST(MapiTags, TagsTheCommandsUseHaveTheirPublishedValues) {
    EXPECT_EQ(PR_DEFAULT_STORE, 0x3400000Bu);
    EXPECT_EQ(PR_ENTRYID, 0x0FFF0102u);
    EXPECT_EQ(PR_IPM_OUTBOX_ENTRYID, 0x35E20102u);
    EXPECT_EQ(PR_IPM_WASTEBASKET_ENTRYID, 0x35E30102u);
    EXPECT_EQ(PR_IPM_SENTMAIL_ENTRYID, 0x35E40102u);
    EXPECT_EQ(PR_SENTMAIL_ENTRYID, 0x0E0A0102u);
    EXPECT_EQ(PR_MESSAGE_CLASS_A, 0x001A001Eu);
    EXPECT_EQ(PR_SUBJECT_W, 0x0037001Fu);
    EXPECT_EQ(PR_SUBJECT_A, 0x0037001Eu);
    EXPECT_EQ(PR_BODY_W, 0x1000001Fu);
    EXPECT_EQ(PR_BODY_A, 0x1000001Eu);
    EXPECT_EQ(PR_ATTACH_METHOD, 0x37050003u);
    EXPECT_EQ(PR_ATTACH_FILENAME_W, 0x3704001Fu);
    EXPECT_EQ(PR_ATTACH_FILENAME_A, 0x3704001Eu);
    EXPECT_EQ(PR_ATTACH_LONG_FILENAME_W, 0x3707001Fu);
    EXPECT_EQ(PR_ATTACH_DATA_BIN, 0x37010102u);
    EXPECT_EQ(PR_ATTACH_DATA_OBJ, 0x3701000Du);
    EXPECT_EQ(PR_DISPLAY_NAME_W, 0x3001001Fu);
    EXPECT_EQ(PR_DISPLAY_NAME_A, 0x3001001Eu);
    EXPECT_EQ(PR_RECIPIENT_TYPE, 0x0C150003u);
    EXPECT_EQ(PR_OBJECT_TYPE, 0x0FFE0003u);
    EXPECT_EQ(PR_ADDRTYPE_A, 0x3002001Eu);
    EXPECT_EQ(PR_EMAIL_ADDRESS_A, 0x3003001Eu);
    EXPECT_EQ(PR_SMTP_ADDRESS_A, 0x39FE001Eu);
    EXPECT_EQ(PR_SMTP_ADDRESS_W, 0x39FE001Fu);
    EXPECT_EQ(PR_DEFAULT_PROFILE, 0x3D04000Bu);
    EXPECT_EQ(PR_DISPLAY_TYPE, 0x39000003u);
    EXPECT_EQ(PR_RENDERING_POSITION, 0x370B0003u);
    EXPECT_EQ(PR_MESSAGE_FLAGS, 0x0E070003u);
    EXPECT_EQ(PR_CREATION_TIME, 0x30070040u);
    EXPECT_EQ(PR_MESSAGE_DELIVERY_TIME, 0x0E060040u);
    EXPECT_EQ(PR_RECORD_KEY, 0x0FF90102u);
    EXPECT_EQ(PR_INSTANCE_KEY, 0x0FF60102u);
    EXPECT_EQ(PR_ROWID, 0x30000003u);
    EXPECT_EQ(PR_NULL, 0x00000001u);
}

TEST(MapiTags, TagMacrosSplitAndJoinIdentifierAndType) {
    EXPECT_EQ(PROP_ID(PR_SUBJECT_W), 0x0037u);
    EXPECT_EQ(PROP_TYPE(PR_SUBJECT_W), PT_UNICODE);
    EXPECT_EQ(PROP_TYPE(PR_ATTACH_DATA_BIN), PT_BINARY);
    EXPECT_EQ(PROP_TAG(PT_BOOLEAN, 0x3D04), PR_DEFAULT_PROFILE);
    EXPECT_EQ(CHANGE_PROP_TYPE(PR_BODY_W, PT_STRING8), PR_BODY_A);
    EXPECT_EQ(CHANGE_PROP_TYPE(PR_ATTACH_FILENAME_W, PT_STRING8), PR_ATTACH_FILENAME_A);
    EXPECT_EQ(CHANGE_PROP_TYPE(PR_DISPLAY_NAME_A, PT_ERROR), 0x3001000Au);
    EXPECT_EQ(PT_MV_BINARY, 0x1102u);
    EXPECT_EQ(PT_MV_UNICODE, 0x101Fu);
    EXPECT_EQ(PT_I8, 0x0014u);
    EXPECT_EQ(PT_SYSTIME, 0x0040u);
    EXPECT_EQ(PT_CLSID, 0x0048u);
    EXPECT_EQ(PT_OBJECT, 0x000Du);
}

TEST(MapiTags, EnumeratedValues) {
    EXPECT_EQ(MAPI_TO, 1u);
    EXPECT_EQ(MAPI_CC, 2u);
    EXPECT_EQ(MAPI_BCC, 3u);
    EXPECT_EQ(MAPI_STORE, 1u);
    EXPECT_EQ(MAPI_FOLDER, 3u);
    EXPECT_EQ(MAPI_MESSAGE, 5u);
    EXPECT_EQ(MAPI_MAILUSER, 6u);
    EXPECT_EQ(MAPI_DISTLIST, 8u);
    EXPECT_EQ(MAPI_FORMINFO, 12u);
    EXPECT_EQ(ATTACH_BY_VALUE, 1u);
    EXPECT_EQ(MSGFLAG_UNSENT, 8u);
}

TEST(MapiCodes, CodesHaveTheirPublishedValues) {
    EXPECT_EQ(MAPI_E_NO_SUPPORT, static_cast<HRESULT>(0x80040102u));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, -2147221246);
    EXPECT_EQ(MAPI_E_BAD_CHARWIDTH, -2147221245);
    EXPECT_EQ(MAPI_E_STRING_TOO_LONG, -2147221243);
    EXPECT_EQ(MAPI_E_BAD_COLUMN, -2147221224);
    EXPECT_EQ(MAPI_E_UNCONFIGURED, -2147221220);
    EXPECT_EQ(MAPI_E_FAILONEPROVIDER, -2147221219);
    EXPECT_EQ(MAPI_E_UNKNOWN_LCID, -2147221217);
    EXPECT_EQ(MAPI_E_MISSING_REQUIRED_COLUMN, -2147220990);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, 263040);
    EXPECT_EQ(MAPI_E_USER_CANCEL, static_cast<HRESULT>(0x80040113u));
    EXPECT_EQ(MAPI_E_CALL_FAILED, static_cast<HRESULT>(0x80004005u));
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, static_cast<HRESULT>(0x8007000Eu));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, static_cast<HRESULT>(0x80070057u));
    EXPECT_EQ(MAPI_E_INTERFACE_NOT_SUPPORTED, static_cast<HRESULT>(0x80004002u));
    EXPECT_EQ(MAPI_E_NO_ACCESS, static_cast<HRESULT>(0x80070005u));
    EXPECT_EQ(E_POINTER, static_cast<HRESULT>(0x80004003u));
    EXPECT_EQ(E_NOTIMPL, static_cast<HRESULT>(0x80004001u));
    EXPECT_EQ(MAKE_MAPI_E(0x102), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(MAKE_MAPI_S(0x380), MAPI_W_ERRORS_RETURNED);
}

TEST(MapiCodes, WarningsSucceedAndErrorsFail) {
    EXPECT_TRUE(SUCCEEDED(S_OK));
    EXPECT_TRUE(SUCCEEDED(MAPI_W_ERRORS_RETURNED));
    EXPECT_TRUE(SUCCEEDED(MAPI_W_PARTIAL_COMPLETION));
    EXPECT_TRUE(FAILED(MAPI_E_NO_SUPPORT));
    EXPECT_TRUE(FAILED(MAPI_E_CALL_FAILED));
    EXPECT_FALSE(FAILED(MAPI_W_APPROX_COUNT));
}

TEST(MapiCodes, FlagsTheCommandsUseHaveTheirPublishedValues) {
    EXPECT_EQ(MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_EXTENDED | MAPI_USE_DEFAULT, 0x63u);
    EXPECT_EQ(DIALOG_MODAL | AB_RESOLVE, 0x21u);
    EXPECT_EQ(MAPI_CREATE | MAPI_MODIFY, 0x3u);
    EXPECT_EQ(MAPI_BEST_ACCESS, 0x10u);
    EXPECT_EQ(MDB_WRITE, 0x4u);
    EXPECT_EQ(AB_NO_DIALOG, 0x1u);
    EXPECT_EQ(MAPI_DIALOG, 0x8u);
    EXPECT_EQ(MODRECIP_ADD, 0x2u);
    EXPECT_EQ(FORCE_SUBMIT, 0x1u);
    EXPECT_EQ(MAPI_NEW_MESSAGE, 0x2u);
    EXPECT_EQ(MAPI_ACCESS_MODIFY, 0x1u);
    EXPECT_EQ(TBL_BATCH, 0x2u);
    EXPECT_EQ(BOOKMARK_BEGINNING, 0u);
    EXPECT_EQ(RES_PROPERTY, 4u);
    EXPECT_EQ(RELOP_EQ, 4u);
    EXPECT_EQ(STGM_WRITE, 0x1);
    EXPECT_EQ(MAPI_UNICODE, 0x80000000u);
}

// Every code the header defines, with the name mapiErrorName must give it.
struct NamedCode {
    HRESULT code;
    const char* name;
};
#define NAMED(c) NamedCode{c, #c}

TEST(MapiCodes, ErrorNameNamesEveryDefinedCode) {
    const NamedCode codes[] = {
        NAMED(S_OK), NAMED(S_FALSE), NAMED(E_UNEXPECTED), NAMED(E_NOTIMPL), NAMED(E_POINTER),
        NAMED(E_ABORT), NAMED(E_HANDLE), NAMED(STG_E_INVALIDFUNCTION), NAMED(STG_E_ACCESSDENIED),
        NAMED(STG_E_INSUFFICIENTMEMORY), NAMED(STG_E_INVALIDPOINTER), NAMED(STG_E_WRITEFAULT),
        NAMED(STG_E_READFAULT), NAMED(STG_E_INVALIDPARAMETER), NAMED(STG_E_MEDIUMFULL),
        NAMED(STG_E_REVERTED), NAMED(MAPI_E_CALL_FAILED), NAMED(MAPI_E_NOT_ENOUGH_MEMORY),
        NAMED(MAPI_E_INVALID_PARAMETER), NAMED(MAPI_E_INTERFACE_NOT_SUPPORTED),
        NAMED(MAPI_E_NO_ACCESS), NAMED(MAPI_E_NO_SUPPORT), NAMED(MAPI_E_BAD_CHARWIDTH),
        NAMED(MAPI_E_STRING_TOO_LONG), NAMED(MAPI_E_UNKNOWN_FLAGS), NAMED(MAPI_E_INVALID_ENTRYID),
        NAMED(MAPI_E_INVALID_OBJECT), NAMED(MAPI_E_OBJECT_CHANGED), NAMED(MAPI_E_OBJECT_DELETED),
        NAMED(MAPI_E_BUSY), NAMED(MAPI_E_NOT_ENOUGH_DISK), NAMED(MAPI_E_NOT_ENOUGH_RESOURCES),
        NAMED(MAPI_E_NOT_FOUND), NAMED(MAPI_E_VERSION), NAMED(MAPI_E_LOGON_FAILED),
        NAMED(MAPI_E_SESSION_LIMIT), NAMED(MAPI_E_USER_CANCEL), NAMED(MAPI_E_UNABLE_TO_ABORT),
        NAMED(MAPI_E_NETWORK_ERROR), NAMED(MAPI_E_DISK_ERROR), NAMED(MAPI_E_TOO_COMPLEX),
        NAMED(MAPI_E_BAD_COLUMN), NAMED(MAPI_E_EXTENDED_ERROR), NAMED(MAPI_E_COMPUTED),
        NAMED(MAPI_E_CORRUPT_DATA), NAMED(MAPI_E_UNCONFIGURED), NAMED(MAPI_E_FAILONEPROVIDER),
        NAMED(MAPI_E_UNKNOWN_CPID), NAMED(MAPI_E_UNKNOWN_LCID),
        NAMED(MAPI_E_PASSWORD_CHANGE_REQUIRED), NAMED(MAPI_E_PASSWORD_EXPIRED),
        NAMED(MAPI_E_INVALID_WORKSTATION_ACCOUNT), NAMED(MAPI_E_INVALID_ACCESS_TIME),
        NAMED(MAPI_E_ACCOUNT_DISABLED), NAMED(MAPI_E_END_OF_SESSION),
        NAMED(MAPI_E_UNKNOWN_ENTRYID), NAMED(MAPI_E_MISSING_REQUIRED_COLUMN),
        NAMED(MAPI_W_NO_SERVICE), NAMED(MAPI_E_BAD_VALUE), NAMED(MAPI_E_INVALID_TYPE),
        NAMED(MAPI_E_TYPE_NO_SUPPORT), NAMED(MAPI_E_UNEXPECTED_TYPE), NAMED(MAPI_E_TOO_BIG),
        NAMED(MAPI_E_DECLINE_COPY), NAMED(MAPI_E_UNEXPECTED_ID), NAMED(MAPI_W_ERRORS_RETURNED),
        NAMED(MAPI_E_UNABLE_TO_COMPLETE), NAMED(MAPI_E_TIMEOUT), NAMED(MAPI_E_TABLE_EMPTY),
        NAMED(MAPI_E_TABLE_TOO_BIG), NAMED(MAPI_E_INVALID_BOOKMARK),
        NAMED(MAPI_W_POSITION_CHANGED), NAMED(MAPI_W_APPROX_COUNT), NAMED(MAPI_E_WAIT),
        NAMED(MAPI_E_CANCEL), NAMED(MAPI_E_NOT_ME), NAMED(MAPI_W_CANCEL_MESSAGE),
        NAMED(MAPI_E_CORRUPT_STORE), NAMED(MAPI_E_NOT_IN_QUEUE), NAMED(MAPI_E_NO_SUPPRESS),
        NAMED(MAPI_E_COLLISION), NAMED(MAPI_E_NOT_INITIALIZED), NAMED(MAPI_E_NON_STANDARD),
        NAMED(MAPI_E_NO_RECIPIENTS), NAMED(MAPI_E_SUBMITTED), NAMED(MAPI_E_HAS_FOLDERS),
        NAMED(MAPI_E_HAS_MESSAGES), NAMED(MAPI_E_FOLDER_CYCLE), NAMED(MAPI_W_PARTIAL_COMPLETION),
        NAMED(MAPI_E_AMBIGUOUS_RECIP),
    };
    for (const NamedCode& c : codes) {
        const char* name = mapiErrorName(c.code);
        ASSERT_NE(name, nullptr) << c.name;
        EXPECT_STREQ(name, c.name);
    }
    // Distinct names must have distinct values, or the lookup could not tell them apart.
    for (const NamedCode& a : codes) {
        for (const NamedCode& b : codes) {
            if (&a != &b) {
                EXPECT_NE(a.code, b.code) << a.name << " and " << b.name;
            }
        }
    }
}

TEST(MapiCodes, ErrorNamePrefersTheMapiAliasAndKnowsNothingElse) {
    EXPECT_STREQ(mapiErrorName(E_FAIL), "MAPI_E_CALL_FAILED");
    EXPECT_STREQ(mapiErrorName(E_OUTOFMEMORY), "MAPI_E_NOT_ENOUGH_MEMORY");
    EXPECT_STREQ(mapiErrorName(E_INVALIDARG), "MAPI_E_INVALID_PARAMETER");
    EXPECT_STREQ(mapiErrorName(E_NOINTERFACE), "MAPI_E_INTERFACE_NOT_SUPPORTED");
    EXPECT_STREQ(mapiErrorName(E_ACCESSDENIED), "MAPI_E_NO_ACCESS");
    EXPECT_EQ(mapiErrorName(static_cast<HRESULT>(0x80040104u)), nullptr);
    EXPECT_EQ(mapiErrorName(static_cast<HRESULT>(0x80044005u)), nullptr);
    EXPECT_EQ(mapiErrorName(2), nullptr);
    EXPECT_EQ(mapiErrorName(-1), nullptr);

    char text[64];
    std::snprintf(text, sizeof text, "%s (%ld)", mapiErrorName(MAPI_E_NO_SUPPORT),
                  static_cast<long>(MAPI_E_NO_SUPPORT));
    EXPECT_STREQ(text, "MAPI_E_NO_SUPPORT (-2147221246)");
}

TEST(MapiGuids, IdentifiersAreLaidOutAsOleGuids) {
    // {00020301-0000-0000-C000-000000000046}: Data1..Data3 little-endian, Data4 as written.
    const std::vector<unsigned char> table = {0x01, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                              0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    EXPECT_EQ(bytesOf(IID_IMAPITable), table);
    const std::vector<unsigned char> stream = {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    EXPECT_EQ(bytesOf(IID_IStream), stream);
    EXPECT_EQ(IID_IMAPISession.Data1, 0x00020300u);
    EXPECT_EQ(IID_IMsgStore.Data1, 0x00020306u);
    EXPECT_EQ(IID_IMessage.Data1, 0x00020307u);
    EXPECT_EQ(IID_IAttachment.Data1, 0x00020308u);
    EXPECT_EQ(IID_IAddrBook.Data1, 0x00020309u);
    EXPECT_EQ(IID_IMAPIFolder.Data1, 0x0002030Cu);
    EXPECT_EQ(IID_IDistList.Data1, 0x0002030Eu);
    EXPECT_EQ(IID_IProfAdmin.Data1, 0x0002031Cu);
    EXPECT_EQ(IID_IUnknown.Data1, 0x00000000u);
}

TEST(MapiGuids, ComparisonTellsInterfacesApart) {
    const IID* all[] = {&IID_IUnknown,      &IID_IStream,      &IID_IMAPISession,
                        &IID_IMAPITable,    &IID_IMAPIProp,    &IID_IMsgStore,
                        &IID_IMAPIContainer, &IID_IMAPIFolder, &IID_IMessage,
                        &IID_IAttachment,   &IID_IAddrBook,    &IID_IABContainer,
                        &IID_IDistList,     &IID_IMailUser,    &IID_IProfAdmin,
                        &IID_IMAPIForm,     &IID_IMAPIAdviseSink, &IID_IMAPIProgress};
    for (const IID* a : all) {
        for (const IID* b : all) {
            EXPECT_EQ(IsEqualIID(*a, *b) != 0, a == b);
        }
    }
    IID copy = IID_IMessage;
    EXPECT_TRUE(IsEqualIID(copy, IID_IMessage));
    copy.Data4[7] = 0x47;
    EXPECT_FALSE(IsEqualIID(copy, IID_IMessage));
    EXPECT_TRUE(mapiIsIid(&IID_IStream, IID_IStream));
    EXPECT_FALSE(mapiIsIid(&IID_IStream, IID_IMessage));
    EXPECT_FALSE(mapiIsIid(nullptr, IID_IMessage));
}

TEST(MapiTypes, PropertyValueSitsAfterTagAndPadding) {
    SPropValue value = {};
    value.ulPropTag = PR_ATTACH_DATA_BIN;
    BYTE data[3] = {1, 2, 3};
    value.Value.bin.cb = 3;
    value.Value.bin.lpb = data;
    const std::vector<unsigned char> raw = bytesOf(value);
    ULONG tag;
    ULONG count;
    BYTE* pointer;
    std::memcpy(&tag, raw.data(), 4);
    std::memcpy(&count, raw.data() + 8, 4);
    std::memcpy(&pointer, raw.data() + 16, 8);
    EXPECT_EQ(tag, PR_ATTACH_DATA_BIN);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(pointer, data);

    value.ulPropTag = PR_DEFAULT_PROFILE;
    value.Value.b = 1;
    unsigned short flag;
    std::memcpy(&flag, bytesOf(value).data() + 8, 2);
    EXPECT_EQ(flag, 1);
}

TEST(MapiTypes, SizedTagArrayPassesAsATagArray) {
    SizedSPropTagArray(2, columns) = {2, {PR_DEFAULT_STORE, PR_ENTRYID}};
    const LPSPropTagArray tags = reinterpret_cast<LPSPropTagArray>(&columns);
    EXPECT_EQ(tags->cValues, 2u);
    // Past the first element, trailing arrays are reached through a pointer, as
    // their declared bound is 1.
    const ULONG* tag = tags->aulPropTag;
    EXPECT_EQ(tag[0], PR_DEFAULT_STORE);
    EXPECT_EQ(tag[1], PR_ENTRYID);
    EXPECT_EQ(sizeof(columns), CbNewSPropTagArray(2));
}

TEST(MapiTypes, SizesForNElements) {
    EXPECT_EQ(CbNewSPropTagArray(3), 16u);
    EXPECT_EQ(CbNewSRowSet(3), 8u + 3 * 16);
    EXPECT_EQ(CbNewADRLIST(3), 8u + 3 * 16);
    EXPECT_EQ(CbNewADRLIST(0), 8u);
    EXPECT_EQ(CbNewSPropProblemArray(2), 4u + 2 * 12);
    EXPECT_EQ(CbNewENTRYID(16), 20u);
    EXPECT_EQ(CbNewSSortOrderSet(1), 20u);
}

TEST(MapiTypes, RecipientListReadsAsRowSet) {
    std::vector<unsigned char> buffer(CbNewADRLIST(2));
    SPropValue first[2] = {};
    SPropValue second[1] = {};
    ADRLIST* list = reinterpret_cast<ADRLIST*>(buffer.data());
    list->cEntries = 2;
    ADRENTRY* entry = list->aEntries;
    entry[0] = ADRENTRY{0, 2, first};
    entry[1] = ADRENTRY{0, 1, second};

    const SRowSet* rows = reinterpret_cast<const SRowSet*>(buffer.data());
    ASSERT_EQ(rows->cRows, 2u);
    const SRow* row = rows->aRow;
    EXPECT_EQ(row[0].cValues, 2u);
    EXPECT_EQ(row[0].lpProps, first);
    EXPECT_EQ(row[1].cValues, 1u);
    EXPECT_EQ(row[1].lpProps, second);
}

TEST(MapiTypes, DefaultProfileRestrictionLayout) {
    SPropValue isDefault = {};
    isDefault.ulPropTag = PR_DEFAULT_PROFILE;
    isDefault.Value.b = 1;
    SRestriction restriction = {};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_DEFAULT_PROFILE;
    restriction.res.resProperty.lpProp = &isDefault;

    const std::vector<unsigned char> raw = bytesOf(restriction);
    ULONG rt;
    ULONG relop;
    ULONG tag;
    SPropValue* prop;
    std::memcpy(&rt, raw.data(), 4);
    std::memcpy(&relop, raw.data() + 8, 4);
    std::memcpy(&tag, raw.data() + 12, 4);
    std::memcpy(&prop, raw.data() + 16, 8);
    EXPECT_EQ(rt, 4u);
    EXPECT_EQ(relop, 4u);
    EXPECT_EQ(tag, 0x3D04000Bu);
    EXPECT_EQ(prop, &isDefault);
}

TEST(MapiTypes, AddressDialogParametersLayout) {
    ULONG wells[] = {MAPI_TO, MAPI_BCC};
    char caption[] = "Address Book";
    ADRPARM parm = {};
    parm.ulFlags = DIALOG_MODAL | AB_RESOLVE;
    parm.lpszCaption = caption;
    parm.cDestFields = 2;
    parm.lpulDestComps = wells;

    const std::vector<unsigned char> raw = bytesOf(parm);
    ULONG flags;
    char* text;
    ULONG fields;
    ULONG* comps;
    std::memcpy(&flags, raw.data() + 16, 4);
    std::memcpy(&text, raw.data() + 72, 8);
    std::memcpy(&fields, raw.data() + 96, 4);
    std::memcpy(&comps, raw.data() + 112, 8);
    EXPECT_EQ(flags, 0x21u);
    EXPECT_EQ(std::string(text), "Address Book");
    EXPECT_EQ(fields, 2u);
    EXPECT_EQ(comps[1], MAPI_BCC);
}

}  // namespace
