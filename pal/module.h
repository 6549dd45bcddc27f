// SPDX-License-Identifier: MIT
// Shared libraries loaded under their Windows names.
#pragma once

#include "pal/types.h"

// Loads a library, reference-counted: loading a loaded library returns the same
// handle, and each load needs its FreeLibrary. A name with '/' is a path, loaded
// as given. Any other name is a Windows file name: "X.dll" (any case of the
// extension) and "X" (Windows appends ".dll" to a name without an extension) both
// mean libX.so; a name ending in '.' means the file without extension, minus the
// dot; a name with another extension ("libX.so.2") is taken as is. The file is
// looked for in the running program's directory first, then where the system
// looks for libraries. Windows file names ignore case, so a name with capitals
// is tried as given and then in lower case ("MAPI32.DLL" finds libmapi32.so).
// Symbols resolve at load; a library is loaded privately (its symbols resolve no
// other library's references), as on Windows.
// Failure, a null or empty name included: NULL with ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryA(LPCSTR fileName);

// The address of a function or variable the module itself defines: a symbol the
// library only takes from a library it depends on is not one of its exports and
// fails with ERROR_PROC_NOT_FOUND, as does a missing one. Ordinals (names whose
// value is below 0x10000) are not provided: ERROR_PROC_NOT_FOUND. A NULL module
// means the program, which exports nothing here: ERROR_PROC_NOT_FOUND. A handle
// no LoadLibraryA returned, or one freed meanwhile: ERROR_MOD_NOT_FOUND.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);

// Drops one reference; the last unloads the library. A NULL module fails with
// ERROR_INVALID_HANDLE, any other unknown one with ERROR_MOD_NOT_FOUND.
BOOL FreeLibrary(HMODULE module);
