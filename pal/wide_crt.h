// SPDX-License-Identifier: MIT
// The parts of the Microsoft C runtime's wide-character library that mailbroker
// calls, on UTF-16 WCHAR text, with the Microsoft meaning of every format:
// in the wide functions %s and %c take WCHAR text, %S and %C narrow text, and the
// `l` length modifier means 32 bits, as Windows' `long` does.
//
// These overload the C library's wchar_t functions by parameter type; on POSIX
// wchar_t is 32 bits and never used for text.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "pal/types.h"

#ifndef _TRUNCATE
#define _TRUNCATE ((size_t)-1)
#endif

typedef int errno_t;

size_t wcslen(const WCHAR* s);
size_t wcsnlen(const WCHAR* s, size_t max);
int wcscmp(const WCHAR* a, const WCHAR* b);

// Lower-cases A-Z in place, as the Microsoft runtime does in the "C" locale
// that every program starts in (and that the Broker never leaves); other
// letters stay as they are. EINVAL for a null text, or when `size` units hold
// no terminator; then s[0] is set to 0.
errno_t _wcslwr_s(WCHAR* s, size_t size);

// Writes at most `count` units (or as many as fit, with _TRUNCATE) plus a NUL.
// Returns the number of units written, or -1 when:
//   - the output was cut short at `count` units or, with _TRUNCATE, at the
//     buffer's end (the text written so far stays, terminated);
//   - it did not fit `sizeOfBuffer` otherwise (buffer[0] = 0, errno ERANGE);
//   - the arguments or a directive are invalid, %n included (errno EINVAL;
//     after a bad directive the text before it stays, terminated).
int _vsnwprintf_s(WCHAR* buffer, size_t sizeOfBuffer, size_t count, const WCHAR* format,
                  va_list args);
int _snwprintf_s(WCHAR* buffer, size_t sizeOfBuffer, size_t count, const WCHAR* format, ...);

// Returns the number of fields assigned, or EOF (-1) when the input ends before
// any conversion has matched. %s, %c and %[ take a buffer size argument (UINT)
// after the pointer, as in every _s scanning function; a field that does not
// fit stops the scan. Floating input is read without regard to the locale.
int vswscanf_s(const WCHAR* buffer, const WCHAR* format, va_list args);
int swscanf_s(const WCHAR* buffer, const WCHAR* format, ...);

// Splits a path into drive, folder, file name and extension (the last '.' of
// the last component and what follows). Both '\' and '/' separate folders; on
// POSIX there is no drive, so `drive` receives "". Any output may be null with
// a size of 0; a null buffer with a size, or a buffer with none: EINVAL. A
// part that does not fit its buffer: ERANGE, and every output is set to "".
// Null path: EINVAL. A leading dot is an extension: ".bashrc" has no name.
errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveCount, WCHAR* dir,
                      size_t dirCount, WCHAR* fname, size_t nameCount, WCHAR* ext,
                      size_t extCount);

// Tokenizes in place: skips leading delimiters, ends the token at the next
// one with a NUL, and keeps the position in *context. A null `str` continues
// from *context. Returns null when no token is left, or for null
// delimiters/context or a null `str` with a null *context (errno EINVAL).
WCHAR* wcstok_s(WCHAR* str, const WCHAR* delimiters, WCHAR** context);

// The same on 8-bit text. (Declared here because the C library on POSIX does
// not provide the _s form.)
char* strtok_s(char* str, const char* delimiters, char** context);
