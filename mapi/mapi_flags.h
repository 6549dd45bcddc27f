// SPDX-License-Identifier: MIT
// Flags of the MAPI entry points and methods, and the constants of tables and
// restrictions. Included by mapi_codes.h.
#pragma once

#include "mapi/mapi_com.h"

// Character width of the strings a call takes or returns; 8-bit without it.
#define MAPI_UNICODE ((ULONG)0x80000000)

// MAPIInitialize (MAPIINIT_0).
#define MAPI_INIT_VERSION 0
#define MAPI_MULTITHREAD_NOTIFICATIONS ((ULONG)0x00000001)
#define MAPI_NO_COINIT ((ULONG)0x00000008)
#define MAPI_NT_SERVICE ((ULONG)0x00010000)

// MAPILogonEx.
#define MAPI_LOGON_UI ((ULONG)0x00000001)
#define MAPI_NEW_SESSION ((ULONG)0x00000002)
#define MAPI_ALLOW_OTHERS ((ULONG)0x00000008)
#define MAPI_EXPLICIT_PROFILE ((ULONG)0x00000010)
#define MAPI_EXTENDED ((ULONG)0x00000020)
#define MAPI_USE_DEFAULT ((ULONG)0x00000040)
#define MAPI_FORCE_DOWNLOAD ((ULONG)0x00001000)
#define MAPI_SERVICE_UI_ALWAYS ((ULONG)0x00002000)
#define MAPI_NO_MAIL ((ULONG)0x00008000)
#define MAPI_PASSWORD_UI ((ULONG)0x00020000)
#define MAPI_TIMEOUT_SHORT ((ULONG)0x00100000)

// IMAPISession::Logoff.
#define MAPI_LOGOFF_SHARED ((ULONG)0x00000001)
#define MAPI_LOGOFF_UI ((ULONG)0x00000002)

// IProfAdmin::CreateProfile.
#define MAPI_DEFAULT_SERVICES ((ULONG)0x00000001)

// Opening objects (OpenEntry, OpenMsgStore, OpenProperty, GetIDsFromNames).
#define MAPI_MODIFY ((ULONG)0x00000001)
#define MAPI_CREATE ((ULONG)0x00000002)
#define MAPI_DEFERRED_ERRORS ((ULONG)0x00000008)
#define MAPI_BEST_ACCESS ((ULONG)0x00000010)
#define MAPI_ASSOCIATED ((ULONG)0x00000040)
#define MDB_NO_DIALOG ((ULONG)0x00000001)
#define MDB_WRITE ((ULONG)0x00000004)
#define MDB_TEMPORARY ((ULONG)0x00000020)
#define MDB_NO_MAIL ((ULONG)0x00000080)

// Showing a dialog (ResolveName, CopyTo, ...); the address book without one.
#define MAPI_DIALOG ((ULONG)0x00000008)
#define AB_NO_DIALOG ((ULONG)0x00000001)

// ADRPARM::ulFlags of IAddrBook::Address.
#define DIALOG_MODAL ((ULONG)0x00000001)
#define DIALOG_SDI ((ULONG)0x00000002)
#define DIALOG_OPTIONS ((ULONG)0x00000004)
#define ADDRESS_ONE ((ULONG)0x00000008)
#define AB_SELECTONLY ((ULONG)0x00000010)
#define AB_RESOLVE ((ULONG)0x00000020)

// Copying and moving (CopyTo, CopyProps, CopyMessages, CopyFolder).
#define MAPI_MOVE ((ULONG)0x00000001)
#define MAPI_NOREPLACE ((ULONG)0x00000002)
#define MAPI_DECLINE_OK ((ULONG)0x00000004)

// IMAPIProp::SaveChanges.
#define KEEP_OPEN_READONLY ((ULONG)0x00000001)
#define KEEP_OPEN_READWRITE ((ULONG)0x00000002)
#define FORCE_SAVE ((ULONG)0x00000004)

// IMessage.
#define MODRECIP_ADD ((ULONG)0x00000002)
#define MODRECIP_MODIFY ((ULONG)0x00000004)
#define MODRECIP_REMOVE ((ULONG)0x00000008)
#define FORCE_SUBMIT ((ULONG)0x00000001)
#define ATTACH_DIALOG ((ULONG)0x00000001)
#define SUPPRESS_RECEIPT ((ULONG)0x00000001)
#define CLEAR_READ_FLAG ((ULONG)0x00000004)

// IMAPIFolder.
#define OPEN_IF_EXISTS ((ULONG)0x00000001)
#define MESSAGE_DIALOG ((ULONG)0x00000002)
#define FOLDER_DIALOG ((ULONG)0x00000002)
#define DEL_FOLDERS ((ULONG)0x00000004)
// DeleteFolder's DEL_MESSAGES is 1, as Microsoft's own headers publish it
// (wabdefs.h of the Windows SDK, and edkmdb.h of the Exchange SDK, which
// repeats DeleteFolder's flags); 8 is EmptyFolder's DEL_ASSOCIATED.
#define DEL_MESSAGES ((ULONG)0x00000001)
#define DEL_ASSOCIATED ((ULONG)0x00000008)
#define CONVENIENT_DEPTH ((ULONG)0x00000001)

// IMAPISession::ShowForm.
#define MAPI_POST_MESSAGE ((ULONG)0x00000001)
#define MAPI_NEW_MESSAGE ((ULONG)0x00000002)
#define MAPI_ACCESS_MODIFY ((ULONG)0x00000001)
#define MAPI_ACCESS_READ ((ULONG)0x00000002)
#define MAPI_ACCESS_DELETE ((ULONG)0x00000004)
#define MAPI_ACCESS_CREATE_HIERARCHY ((ULONG)0x00000008)
#define MAPI_ACCESS_CREATE_CONTENTS ((ULONG)0x00000010)
#define MAPI_ACCESS_CREATE_ASSOCIATED ((ULONG)0x00000020)

// IMAPIProgress.
#define MAPI_TOP_LEVEL ((ULONG)0x00000001)

// Tables.
#define TBL_ASYNC ((ULONG)0x00000001)
#define TBL_BATCH ((ULONG)0x00000002)
#define TBL_NOADVANCE ((ULONG)0x00000001)
#define TBL_ALL_COLUMNS ((ULONG)0x00000001)
#define DIR_BACKWARD ((ULONG)0x00000001)
#define TBL_LEAF_ROW ((ULONG)1)
#define TBL_EMPTY_CATEGORY ((ULONG)2)
#define TBL_EXPANDED_CATEGORY ((ULONG)3)
#define TBL_COLLAPSED_CATEGORY ((ULONG)4)
#define TBLTYPE_SNAPSHOT ((ULONG)0)
#define TBLTYPE_KEYSET ((ULONG)1)
#define TBLTYPE_DYNAMIC ((ULONG)2)
#define TBLSTAT_COMPLETE ((ULONG)0)
#define TBLSTAT_QCHANGED ((ULONG)7)
#define TBLSTAT_SORTING ((ULONG)9)
#define TBLSTAT_SORT_ERROR ((ULONG)10)
#define TBLSTAT_SETTING_COLS ((ULONG)11)
#define TBLSTAT_SETCOL_ERROR ((ULONG)13)
#define TBLSTAT_RESTRICTING ((ULONG)14)
#define TBLSTAT_RESTRICT_ERROR ((ULONG)15)
#define TABLE_SORT_ASCEND ((ULONG)0x00000000)
#define TABLE_SORT_DESCEND ((ULONG)0x00000001)
#define TABLE_SORT_COMBINE ((ULONG)0x00000002)

// The three predefined bookmarks (a BOOKMARK is pointer-sized).
#define BOOKMARK_BEGINNING ((BOOKMARK)0)
#define BOOKMARK_CURRENT ((BOOKMARK)1)
#define BOOKMARK_END ((BOOKMARK)2)

// Restriction types (SRestriction::rt).
#define RES_AND ((ULONG)0x00000000)
#define RES_OR ((ULONG)0x00000001)
#define RES_NOT ((ULONG)0x00000002)
#define RES_CONTENT ((ULONG)0x00000003)
#define RES_PROPERTY ((ULONG)0x00000004)
#define RES_COMPAREPROPS ((ULONG)0x00000005)
#define RES_BITMASK ((ULONG)0x00000006)
#define RES_SIZE ((ULONG)0x00000007)
#define RES_EXIST ((ULONG)0x00000008)
#define RES_SUBRESTRICTION ((ULONG)0x00000009)
#define RES_COMMENT ((ULONG)0x0000000A)

// Relational operators of property, compare-properties and size restrictions.
#define RELOP_LT ((ULONG)0)
#define RELOP_LE ((ULONG)1)
#define RELOP_GT ((ULONG)2)
#define RELOP_GE ((ULONG)3)
#define RELOP_EQ ((ULONG)4)
#define RELOP_NE ((ULONG)5)
#define RELOP_RE ((ULONG)6)

// Bit-mask restriction operators.
#define BMR_EQZ ((ULONG)0)
#define BMR_NEZ ((ULONG)1)

// Content restriction matching: one of the first three, plus any of the rest.
#define FL_FULLSTRING ((ULONG)0x00000000)
#define FL_SUBSTRING ((ULONG)0x00000001)
#define FL_PREFIX ((ULONG)0x00000002)
#define FL_IGNORECASE ((ULONG)0x00010000)
#define FL_IGNORENONSPACE ((ULONG)0x00020000)
#define FL_LOOSE ((ULONG)0x00040000)

// MAPINAMEID::ulKind.
#define MNID_ID 0
#define MNID_STRING 1

// Notification events (Advise masks).
#define fnevCriticalError ((ULONG)0x00000001)
#define fnevNewMail ((ULONG)0x00000002)
#define fnevObjectCreated ((ULONG)0x00000004)
#define fnevObjectDeleted ((ULONG)0x00000008)
#define fnevObjectModified ((ULONG)0x00000010)
#define fnevObjectMoved ((ULONG)0x00000020)
#define fnevObjectCopied ((ULONG)0x00000040)
#define fnevSearchComplete ((ULONG)0x00000080)
#define fnevTableModified ((ULONG)0x00000100)
#define fnevStatusObjectModified ((ULONG)0x00000200)
#define fnevExtended ((ULONG)0x80000000)
