// SPDX-License-Identifier: MIT
// libmapi32.so: the provider's code comes from mb_provider, linked whole;
// exports.map decides which of its symbols the library exports.
#include "provider/com/exports.h"
