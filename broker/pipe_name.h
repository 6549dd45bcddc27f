// SPDX-License-Identifier: MIT
// The bytes the listener hands CreateNamedPipeA as the name of its pipe.
#pragma once

#include "foundation/ks_string.h"

// Windows takes the name in the ANSI code page, as the Broker has always
// passed it. On POSIX the name is taken as UTF-8, the form every host and the
// client write it in: the ANSI code page cannot hold most characters, so
// "mail-☃", "mail-中" and "mail-?" would all become "mail-?" and share one
// socket, and a host naming the pipe "é" in UTF-8 would never find a Broker
// that listened on the code page's single byte for it. Returns the string's
// own storage.
const char* pipeNameBytes(KsString& name);
