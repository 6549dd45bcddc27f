// SPDX-License-Identifier: MIT
#include "foundation/ks_exception.h"

// Out of line so that the vtable has one home.
KsException::~KsException() = default;
