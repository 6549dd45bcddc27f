// SPDX-License-Identifier: MIT
#include "channel/shared_memory_channel.h"

// No window messages exist here: the pumping receive is the plain one.
void CSharedMemoryChannel::pumpWhilePending(HANDLE /*transferEvent*/) {}
