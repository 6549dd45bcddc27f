// SPDX-License-Identifier: MIT
// MAPI's buffer allocator.
//
// A buffer from MAPIAllocateBuffer is a root; MAPIAllocateMore links further
// buffers to a root (or to any buffer linked to it), and MAPIFreeBuffer on
// the root frees the root and everything linked to it. Each buffer carries a
// small header in front of the caller's bytes: a tag that tells roots from
// linked buffers, the root a linked buffer belongs to, and the next link.
// Buffers are zero-filled and aligned for any MAPI structure.
#pragma once

#include "provider/com/exports.h"

namespace mb::provider {

// The number of root buffers currently allocated and not freed, for tests.
unsigned long liveRootBuffers();

}  // namespace mb::provider
