// SPDX-License-Identifier: MIT
// The name an attached file goes by: the last component of its path, as the
// host's platform separates components.
#pragma once

#include <string>

#include "pal/win32.h"

// The file name and extension of path; empty when it has none (a path that
// ends in a separator). On Windows '\' and '/' both separate; on POSIX only
// '/' does, and a '\' is part of the name, as the file system keeps it.
std::basic_string<WCHAR> attachmentFileName(const WCHAR* path);
