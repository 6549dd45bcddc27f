// SPDX-License-Identifier: MIT
// MAPI as the Broker and the provider see it: one include for the types,
// tags, result codes, flags, interface identifiers and interfaces.
#pragma once

#include "mapi/mapi_codes.h"
#include "mapi/mapi_com.h"
#include "mapi/mapi_flags.h"
#include "mapi/mapi_guids.h"
#include "mapi/mapi_interfaces.h"
#include "mapi/mapi_tags.h"
#include "mapi/mapi_types.h"
