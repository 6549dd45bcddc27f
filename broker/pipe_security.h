// SPDX-License-Identifier: MIT
// How the listener obtains and releases the security of its pipe instances.
#pragma once

#include "pal/win32.h"

struct PipeSecurity {
    // Fills the attributes and returns the descriptor it allocated (may be null).
    void* (*create)(SECURITY_ATTRIBUTES& attributes);
    // Releases what `create` returned.
    void (*release)(void* descriptor);
};
