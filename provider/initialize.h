// SPDX-License-Identifier: MIT
// Per-process MAPI initialisation count.
//
// MAPIInitialize and MAPIUninitialize pair up and may nest; MAPIUninitialize
// without a matching MAPIInitialize does nothing. Nothing heavy happens here:
// the mail libraries start on first use, because the Broker loads and unloads
// this library for every request.
#pragma once

#include "provider/com/exports.h"

namespace mb::provider {

// True while at least one MAPIInitialize has not been matched.
bool mapiInitialized();

}  // namespace mb::provider
