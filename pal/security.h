// SPDX-License-Identifier: MIT
// Access tokens, security identifiers, SDDL security descriptors, the version
// record and local memory.
//
// The user with uid N is S-1-22-1-N and the group with gid N is S-1-22-2-N, the
// usual Unix mapping. A token carries the user of the effective uid; nothing here
// impersonates, so a thread never has a token of its own.
#pragma once

#include "pal/types.h"

typedef HANDLE* PHANDLE;
typedef DWORD* PDWORD;
typedef ULONG* PULONG;

// ---- Local memory ---------------------------------------------------------

#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
typedef HANDLE HLOCAL;

// Blocks come from the process heap, as on Windows. Only fixed blocks exist:
// LMEM_MOVEABLE, or any other flag, fails with ERROR_INVALID_PARAMETER.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// NULL on success (and for NULL); a block LocalAlloc did not return comes back
// unchanged with ERROR_INVALID_HANDLE.
HLOCAL LocalFree(HLOCAL memory);

// ---- Version --------------------------------------------------------------

#define VER_PLATFORM_WIN32_NT 2u

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;

#define VER_NT_WORKSTATION 1

typedef struct _OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXA, *POSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

// Reports 10.0, build 19045, platform VER_PLATFORM_WIN32_NT, no service pack (a
// workstation in the extended record): what Windows 10 tells a program that
// declares itself compatible with it. dwOSVersionInfoSize must be 148 or 156
// (the extended record), else ERROR_INSUFFICIENT_BUFFER.
BOOL GetVersionExA(LPOSVERSIONINFOA versionInfo);

// ---- Pseudo handles and tokens ---------------------------------------------

// Windows' fixed values: they name the caller wherever a process or thread
// handle is taken, need no closing, and are no entry of the handle table.
HANDLE GetCurrentProcess();
HANDLE GetCurrentThread();

#define TOKEN_ASSIGN_PRIMARY 0x0001u
#define TOKEN_DUPLICATE 0x0002u
#define TOKEN_IMPERSONATE 0x0004u
#define TOKEN_QUERY 0x0008u
#define TOKEN_QUERY_SOURCE 0x0010u
#define TOKEN_ADJUST_PRIVILEGES 0x0020u
#define TOKEN_ADJUST_GROUPS 0x0040u
#define TOKEN_ADJUST_DEFAULT 0x0080u
#define TOKEN_ADJUST_SESSIONID 0x0100u
#define TOKEN_ALL_ACCESS 0x000F01FFu
#define TOKEN_READ 0x00020008u
#define TOKEN_WRITE 0x000200E0u
#define TOKEN_EXECUTE 0x00020000u
#define MAXIMUM_ALLOWED 0x02000000u

#define ERROR_NO_TOKEN 1008L
#define ERROR_UNKNOWN_REVISION 1305L
#define ERROR_INVALID_SID 1337L
#define ERROR_INVALID_SECURITY_DESCR 1338L

// A process token for the effective user; the handle is closed by CloseHandle.
// Only GetCurrentProcess() may be opened (any other handle: ERROR_INVALID_HANDLE).
// Generic rights and MAXIMUM_ALLOWED map to token rights; any other right
// outside TOKEN_ALL_ACCESS fails with ERROR_ACCESS_DENIED.
BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
// No thread impersonates, so GetCurrentThread() fails with ERROR_NO_TOKEN; other
// handles are not taken here and fail with ERROR_INVALID_HANDLE.
BOOL OpenThreadToken(HANDLE thread, DWORD desiredAccess, BOOL openAsSelf, PHANDLE token);

typedef enum _TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenGroups,
    TokenPrivileges,
    TokenOwner,
    TokenPrimaryGroup,
} TOKEN_INFORMATION_CLASS;

// ---- Security identifiers ---------------------------------------------------

#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15
#define SECURITY_MAX_SID_SIZE 68

typedef struct _SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

typedef struct _SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
} SID;
typedef PVOID PSID;

typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;

typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;

typedef struct _TOKEN_OWNER {
    PSID Owner;
} TOKEN_OWNER, *PTOKEN_OWNER;

typedef struct _TOKEN_PRIMARY_GROUP {
    PSID PrimaryGroup;
} TOKEN_PRIMARY_GROUP, *PTOKEN_PRIMARY_GROUP;

// TokenUser, TokenOwner (the user) and TokenPrimaryGroup (the effective gid);
// other classes fail with ERROR_INVALID_PARAMETER. The record and the SID it
// points at share the caller's buffer. A buffer that is too small (NULL with 0
// included) fails with ERROR_INSUFFICIENT_BUFFER and the needed length in
// *returnLength. A token opened without TOKEN_QUERY fails with ERROR_ACCESS_DENIED.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                         LPVOID information, DWORD informationLength, PDWORD returnLength);

BOOL IsValidSid(PSID sid);
// Undefined for an invalid SID, as on Windows.
DWORD GetLengthSid(PSID sid);
BOOL EqualSid(PSID sid1, PSID sid2);

// "S-1-<authority>-<sub>..." in LocalAlloc'ed text; an invalid SID fails with
// ERROR_INVALID_SID, a NULL output pointer with ERROR_INVALID_PARAMETER.
BOOL ConvertSidToStringSidA(PSID sid, LPSTR* stringSid);
// S-1-... text or an SDDL alias (WD, SY, BA, LW, ...) to a LocalAlloc'ed SID;
// malformed text fails with ERROR_INVALID_SID.
BOOL ConvertStringSidToSidA(LPCSTR stringSid, PSID* sid);

// ---- Security descriptors -----------------------------------------------------

#define SDDL_REVISION_1 1
#define SECURITY_DESCRIPTOR_REVISION 1
#define ACL_REVISION 2
#define ACL_REVISION_DS 4

typedef DWORD ACCESS_MASK;
typedef WORD SECURITY_DESCRIPTOR_CONTROL, *PSECURITY_DESCRIPTOR_CONTROL;
typedef PVOID PSECURITY_DESCRIPTOR;

#define SE_OWNER_DEFAULTED 0x0001u
#define SE_GROUP_DEFAULTED 0x0002u
#define SE_DACL_PRESENT 0x0004u
#define SE_DACL_DEFAULTED 0x0008u
#define SE_SACL_PRESENT 0x0010u
#define SE_SACL_DEFAULTED 0x0020u
#define SE_DACL_AUTO_INHERIT_REQ 0x0100u
#define SE_SACL_AUTO_INHERIT_REQ 0x0200u
#define SE_DACL_AUTO_INHERITED 0x0400u
#define SE_SACL_AUTO_INHERITED 0x0800u
#define SE_DACL_PROTECTED 0x1000u
#define SE_SACL_PROTECTED 0x2000u
#define SE_SELF_RELATIVE 0x8000u

typedef struct _SECURITY_DESCRIPTOR_RELATIVE {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    DWORD Owner;
    DWORD Group;
    DWORD Sacl;
    DWORD Dacl;
} SECURITY_DESCRIPTOR_RELATIVE;

typedef struct _ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
} ACL, *PACL;

typedef struct _ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
} ACE_HEADER, *PACE_HEADER;

// Allowed, denied, audit and mandatory-label entries share this layout.
typedef struct _ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;
} ACCESS_ALLOWED_ACE, *PACCESS_ALLOWED_ACE;

#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1
#define SYSTEM_AUDIT_ACE_TYPE 0x2
#define SYSTEM_MANDATORY_LABEL_ACE_TYPE 0x11

#define OBJECT_INHERIT_ACE 0x01
#define CONTAINER_INHERIT_ACE 0x02
#define NO_PROPAGATE_INHERIT_ACE 0x04
#define INHERIT_ONLY_ACE 0x08
#define INHERITED_ACE 0x10
#define SUCCESSFUL_ACCESS_ACE_FLAG 0x40
#define FAILED_ACCESS_ACE_FLAG 0x80

#define SYSTEM_MANDATORY_LABEL_NO_WRITE_UP 0x1u
#define SYSTEM_MANDATORY_LABEL_NO_READ_UP 0x2u
#define SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP 0x4u

#define DELETE 0x00010000u
#define READ_CONTROL 0x00020000u
#define WRITE_DAC 0x00040000u
#define WRITE_OWNER 0x00080000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_ALL_ACCESS 0x001F01FFu
#define FILE_GENERIC_READ 0x00120089u
#define FILE_GENERIC_WRITE 0x00120116u
#define FILE_GENERIC_EXECUTE 0x001200A0u

// Parses owner (O:), group (G:), DACL (D:) and SACL (S:) parts with their flags
// (P, AI, AR, NO_ACCESS_CONTROL) and entries of types A, D, AU and ML: flags
// OI CI NP IO ID SA FA, rights as two-letter codes (GA GR GW GX, FA FR FW FX,
// RC SD WD WO, KA KR KW KX, NW NR NX, and the directory-service ones) or a
// number, no object GUIDs, and SIDs as S-1-... text or aliases naming
// well-known SIDs. The result is one self-relative block from LocalAlloc,
// released by LocalFree; *size (may be NULL) receives its length.
// A revision other than SDDL_REVISION_1 fails with ERROR_UNKNOWN_REVISION; NULL
// arguments and malformed text with ERROR_INVALID_PARAMETER.
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size);

// Checks the revision and that the owner, group and lists it holds are well formed.
BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);
BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor,
                                  PSECURITY_DESCRIPTOR_CONTROL control, LPDWORD revision);
BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner,
                                LPBOOL ownerDefaulted);
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL daclPresent, PACL* dacl,
                               LPBOOL daclDefaulted);
BOOL GetSecurityDescriptorSacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL saclPresent, PACL* sacl,
                               LPBOOL saclDefaulted);
BOOL GetAce(PACL acl, DWORD index, LPVOID* ace);
