// SPDX-License-Identifier: MIT
// OutlookGetAddrs: the host's recipient texts resolved against the address
// book, optionally through its dialog, and given back as SMTP addresses with
// distribution lists expanded.
#pragma once

#include <string>

#include "codec/param_map.h"
#include "mapi/mapi.h"

class MapiSession;

// Returns "to", "cc" and "bcc" for the keys the request carried; the MAPI
// outcome is left in the session's status.
ParamMap outlookGetAddrs(MapiSession& session);

// Appends one entry's address (or a distribution list's member addresses) to
// text, ';'-separated, and returns its recipient type (-1 when it has none).
LONG appendRecipientAddress(MapiSession& session, IAddrBook* addressBook,
                            const SPropValue* values, ULONG count, std::string& text);
